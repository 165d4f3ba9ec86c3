'use strict';
// The command line every node benchmark of bench/ takes: BUILD_DIR and one
// count option (--rounds N, --changes N). A wrong one prints the usage and
// exits with 2.

function benchArguments(script, option, fallback) {
  const usage = () => {
    process.stderr.write(`usage: node bench/${script} BUILD_DIR [--${option} N]\n`);
    process.exit(2);
  };
  const buildDir = process.argv[2];
  if (!buildDir || buildDir.startsWith('-')) usage();
  const at = process.argv.indexOf(`--${option}`);
  const count = at > 0 ? Number(process.argv[at + 1]) : fallback;
  if (!Number.isInteger(count) || count < 1) usage();
  return { buildDir, count };
}

module.exports = { benchArguments };
