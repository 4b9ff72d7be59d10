// The log-in flow through WebdriverIO:
//   node wdio_flow.mjs <server URL> <device address> <user name>
// Prints one JSON line with what the client saw; exits non-zero when a step fails.
import assert from 'node:assert/strict';
import { remote } from 'webdriverio';

const [server, device, user] = process.argv.slice(2);
const url = new URL(server);
const browser = await remote({
  protocol: url.protocol.replace(':', ''),
  hostname: url.hostname,
  port: Number(url.port),
  path: url.pathname,
  logLevel: 'silent',
  connectionRetryCount: 0,
  capabilities: { platformName: 'quorvel', 'quorvel:host': device },
});
const seen = {};
const errorName = async (command) => {
  try {
    await command();
    return 'no error';
  } catch (e) {
    return e.name;
  }
};
try {
  // "~" is the accessibility identifier, "=" the exact text.
  const userField = await browser.$('~userField');
  await userField.setValue(user);
  seen.typed = await userField.getText();
  await browser.$('~passwordField').setValue('secret');

  // Protocol commands with the ID the user field's find returned: the password
  // field's find made it stale.
  seen.stale = await errorName(() => browser.getElementText(userField.elementId));
  // WebdriverIO hands a failed Find Element back as its error object.
  seen.missing = (await browser.findElement('link text', 'No such button')).error;
  seen.missingElement = await browser.$('=No such button').isExisting();

  const logIn = await browser.$('=Log In');
  seen.rect = await browser.getElementRect(logIn.elementId);
  await logIn.click();
  seen.outcome = await browser.$('~outcomeLabel').getText();

  const png = Buffer.from(await browser.takeScreenshot(), 'base64');
  seen.screenshot = { signature: png.subarray(1, 4).toString('latin1'), width: png.readUInt32BE(16), height: png.readUInt32BE(20) };
  seen.source = await browser.getPageSource();
} finally {
  await browser.deleteSession();
}
assert.equal(seen.outcome, `Welcome, ${user}`);
console.log(JSON.stringify(seen));
