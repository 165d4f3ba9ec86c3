import { LoginForm } from './LoginForm.js';
import { applyTheme } from './Theme.js';

applyTheme();
new LoginForm(document).start();
