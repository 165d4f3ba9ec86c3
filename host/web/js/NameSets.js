// The studio's name sets and where each one's names live: set 0 in the
// router's database 0, sets 1 to 8 in the names infodriver's databases 1 to
// 8, set 9 in the router's database 2. The titles of sets 1 to 8 are the
// entries 1 to 8 of the names infodriver's title database. The tally
// infodriver's slot 212 says which set the displays show, slot 211 their
// brightness.

export const ROUTER = 'StC SDI Router';
export const TALLY = 'CTA Tally Infodriver';
export const NAMES_DRIVER = 'StC_UMD_Names_DriverID';
export const BRIGHTNESS_SLOT = 211;
export const NAMESET_SLOT = 212;
export const BRIGHTNESS_LEVELS = 3;

// Name sets 0 to 9; the user sets are 1 to 8.
const SET_COUNT = 10;
const FIRST_USER_SET = 1;
const LAST_USER_SET = 8;
const ROUTER_SETS = new Map([[0, 0], [9, 2]]);

export class NameSets {
  constructor(studio) {
    this.studio = studio;
  }

  static numbers() {
    return [...Array(SET_COUNT).keys()];
  }

  static isUserSet(set) {
    return set >= FIRST_USER_SET && set <= LAST_USER_SET;
  }

  // {device, database} of a set's names; null when the device is unknown.
  location(set) {
    const device = this.studio.deviceNamed(ROUTER_SETS.has(set) ? ROUTER : NAMES_DRIVER);
    if (!device || !(set >= 0 && set < SET_COUNT)) {
      return null;
    }
    return { device: device.number, database: ROUTER_SETS.has(set) ? ROUTER_SETS.get(set) : set };
  }

  // {device, database} of the titles of the user sets; null when unknown.
  titleLocation() {
    const device = this.studio.deviceNamed(NAMES_DRIVER);
    return device && device.titleDatabase ? { device: device.number, database: device.titleDatabase } : null;
  }

  // The set whose names a database holds, or null.
  setOf(device, database) {
    return NameSets.numbers().find((set) => {
      const where = this.location(set);
      return where && where.device === device && where.database === database;
    }) ?? null;
  }

  // How a set is labelled: its title for a user set (once the titles are
  // loaded), where its names come from otherwise.
  label(set) {
    if (!NameSets.isUserSet(set)) {
      return `Set ${set} (router database ${ROUTER_SETS.get(set)})`;
    }
    const titles = this.titleLocation();
    const loaded = titles && this.studio.loadedNames(titles.device, titles.database);
    return loaded && loaded[set] ? `Set ${set}: ${loaded[set]}` : `Set ${set}`;
  }

  // Loads the titles so that label() can use them.
  async loadTitles() {
    const titles = this.titleLocation();
    if (titles) {
      await this.studio.names(titles.device, titles.database);
    }
  }

  // The tally infodriver's device number, or null.
  tallyDevice() {
    const device = this.studio.deviceNamed(TALLY);
    return device ? device.number : null;
  }
}
