import { App } from './App.js';
import { applyTheme, themeSwitch } from './Theme.js';

applyTheme();
themeSwitch(document.querySelector('[data-theme-switch]'));
new App(document).start();
