// The roles as the host knows them, each allowed all that the ones before
// it are, and what each may do beyond reading, as the host enforces it.
export const ROLES = ['viewer', 'operator', 'engineer', 'admin'];

const reaches = (role, needed) => ROLES.indexOf(role) >= ROLES.indexOf(needed);
export const mayOperate = (role) => reaches(role, 'operator');
export const mayWriteDevices = (role) => reaches(role, 'engineer');
export const mayAdminister = (role) => reaches(role, 'admin');
