// The page's colours: dark or light, as the person chose with the switch
// (kept in this browser's localStorage), else as the system prefers, and
// following the system's changes until a choice is made. The panels and the
// wall of displays keep their own colours in both: they show what the
// studio's panels and displays show.
const STORED = 'panelhost-theme';
const THEMES = ['dark', 'light'];
const SYSTEM_LIGHT = '(prefers-color-scheme: light)';

function stored() {
  try {
    const theme = localStorage.getItem(STORED);
    return THEMES.includes(theme) ? theme : null;
  } catch {
    // Storage refused (a private window's policy): the system decides.
    return null;
  }
}

function system() {
  return window.matchMedia(SYSTEM_LIGHT).matches ? 'light' : 'dark';
}

function apply(theme) {
  document.documentElement.dataset.theme = theme;
}

// Colours the page now and whenever the system's preference changes,
// unless the person chose.
export function applyTheme() {
  apply(stored() ?? system());
  window.matchMedia(SYSTEM_LIGHT).addEventListener('change', () => apply(stored() ?? system()));
}

// Makes `button` the switch between the themes: pressed while light.
export function themeSwitch(button) {
  const draw = () => button.setAttribute('aria-pressed',
    String(document.documentElement.dataset.theme === 'light'));
  button.addEventListener('click', () => {
    const theme = document.documentElement.dataset.theme === 'light' ? 'dark' : 'light';
    try {
      localStorage.setItem(STORED, theme);
    } catch {
      // Not remembered; this page still switches.
    }
    apply(theme);
    draw();
  });
  window.matchMedia(SYSTEM_LIGHT).addEventListener('change', draw);
  draw();
}
