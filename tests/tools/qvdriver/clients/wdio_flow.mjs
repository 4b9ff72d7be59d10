// The log-in flow and the tour through WebdriverIO:
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
const pngSize = (base64) => {
  const png = Buffer.from(base64, 'base64');
  return { signature: png.subarray(1, 4).toString('latin1'), width: png.readUInt32BE(16), height: png.readUInt32BE(20) };
};
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

  seen.screenshot = pngSize(await browser.takeScreenshot());
  seen.source = await browser.getPageSource();

  // The tour: element states and attributes, the window, screenshots.
  const tourField = await browser.$('~userField');
  seen.displayed = await tourField.isDisplayed();
  seen.attributes = {};
  for (const name of ['value', 'text', 'name', 'label', 'id', 'class', 'enabled', 'selected', 'displayed', 'visible', 'rect']) {
    seen.attributes[name] = await tourField.getAttribute(name);
  }
  seen.tagName = await tourField.getTagName();
  seen.windowRect = await browser.getWindowRect();
  const button = await browser.$('=Log In');
  seen.buttonRect = await browser.getElementRect(button.elementId);
  seen.elementShot = pngSize(await browser.takeElementScreenshot(button.elementId));
  seen.screenShot = pngSize(await browser.takeScreenshot());

  // Keys typed by key actions into the focused field; the secure field's bullets.
  const field = await browser.$('~userField');
  await field.clearValue();
  await field.click();
  await browser.action('key').down('z').up('z').down('e').up('e').down('d').up('d').perform();
  seen.keyed = await browser.$('~userField').getText();
  const password = await browser.$('~passwordField');
  await password.click();
  await browser.action('key').down('p').up('p').down('w').up('w').perform();
  seen.secret = await password.getText();
  seen.secretValue = await password.getAttribute('value');
  seen.secretSource = await browser.getPageSource();
  await (await browser.$('=Log In')).click();  // puts the keyboard away

  seen.invalidSelector = await errorName(() => browser.findElement('xpath', '//UIButton[@name="Log In"'));

  // A touch at the Settings tab's point.
  const tab = await browser.$('=Settings');
  const tabRect = await browser.getElementRect(tab.elementId);
  await browser.action('pointer', { parameters: { pointerType: 'touch' } })
    .move({ x: Math.round(tabRect.x + tabRect.width / 2), y: Math.round(tabRect.y + tabRect.height / 2) })
    .down().up().perform();
  seen.settings = await browser.$('~settingsStatus').getText();
  seen.switchLabel = await browser.$('~notificationsSwitch').getAttribute('name');

  // The list: a finger pressed, moved up and lifted; then "mobile: scroll".
  await (await browser.$('=List')).click();
  // The list keeps its place between sessions: back to the top first.
  await browser.execute('mobile: scroll', { direction: 'up', strategy: 'link text', selector: 'Row 1' });
  seen.row1Before = (await browser.findElements('link text', 'Row 1')).length;
  const list = await browser.$('~listScroll');
  await browser.action('pointer', { parameters: { pointerType: 'touch' } })
    .move({ origin: list, x: 0, y: 150 }).down()
    .move({ origin: 'pointer', x: 0, y: -300, duration: 300 }).up().perform();
  seen.row1After = (await browser.findElements('link text', 'Row 1')).length;
  await browser.execute('mobile: scroll', { direction: 'down', strategy: 'link text', selector: 'Row 30' });
  seen.row30Displayed = await browser.$('=Row 30').isDisplayed();
  await (await browser.$('=Login')).click();  // back where the next client starts
} finally {
  await browser.deleteSession();
}
assert.equal(seen.outcome, `Welcome, ${user}`);
console.log(JSON.stringify(seen));
