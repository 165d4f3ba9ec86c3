// The page's live region: what matters to someone who cannot see it (a set
// put on air, a name committed, the host lost) read out by assistive
// technology. One polite region for the whole page, so that messages queue
// instead of interrupting each other.
const REGION = '[data-announce]';

// Reads `text` out. The same text twice in a row is read twice: the region
// is emptied first and filled on the next frame.
export function announce(text) {
  const region = document.querySelector(REGION);
  if (!region || !text) {
    return;
  }
  region.textContent = '';
  requestAnimationFrame(() => { region.textContent = text; });
}
