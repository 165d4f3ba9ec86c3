import { App } from './App.js';

new App(document).start();
