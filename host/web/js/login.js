import { LoginForm } from './LoginForm.js';

new LoginForm(document).start();
