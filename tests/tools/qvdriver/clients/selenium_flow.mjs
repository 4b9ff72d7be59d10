// The log-in flow through the official Selenium bindings, then a tour of the
// element states, attributes, window, actions and mobile commands:
//   node selenium_flow.mjs <server URL> <device address> <user name>
// Prints one JSON line with what the client saw; exits non-zero when a step fails.
// The grid test runs the log-in flow alone through seleniumFlow().
import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';
import { Builder, By, Origin, error } from 'selenium-webdriver';

export async function seleniumFlow(server, device, user, tour = false) {
  const driver = await new Builder()
    .usingServer(server)
    .withCapabilities({ browserName: '', platformName: 'quorvel', 'quorvel:host': device })
    .build();
  const seen = { opened: Date.now() };
  try {
    await logIn(driver, user, seen);
    if (tour) await tourOf(driver, seen);
  } finally {
    await driver.quit();
    seen.closed = Date.now();
  }
  return seen;
}

async function logIn(driver, user, seen) {
  // An element ID holds until the next find: find, then act on what was found.
  const userField = await driver.findElement(By.id('userField'));
  await userField.sendKeys(user);
  seen.typed = await userField.getText();
  await (await driver.findElement(By.css('[id="passwordField"]'))).sendKeys('secret');

  // The user field's ID is now from before the last find.
  try {
    await userField.getText();
    seen.stale = 'no error';
  } catch (e) {
    seen.stale = e.name;
    assert.ok(e instanceof error.StaleElementReferenceError, e.name);
  }
  try {
    await driver.findElement(By.linkText('No such button'));
    seen.missing = 'no error';
  } catch (e) {
    seen.missing = e.name;
    assert.ok(e instanceof error.NoSuchElementError, e.name);
  }

  const button = await driver.findElement(By.linkText('Log In'));
  seen.rect = await button.getRect();
  await button.click();
  seen.outcome = await driver.findElement(By.id('outcomeLabel')).getText();

  const png = Buffer.from(await driver.takeScreenshot(), 'base64');
  seen.screenshot = { signature: png.subarray(1, 4).toString('latin1'), width: png.readUInt32BE(16), height: png.readUInt32BE(20) };
  seen.source = await driver.getPageSource();
}

const pngSize = (base64) => {
  const png = Buffer.from(base64, 'base64');
  return { signature: png.subarray(1, 4).toString('latin1'), width: png.readUInt32BE(16), height: png.readUInt32BE(20) };
};

async function tourOf(driver, seen) {
  // The bindings' own isDisplayed and getAttribute scripts, the tag name.
  const user = await driver.findElement(By.id('userField'));
  seen.displayed = await user.isDisplayed();
  seen.attributes = {};
  for (const name of ['value', 'text', 'name', 'label', 'id', 'class', 'enabled', 'selected', 'displayed', 'visible', 'rect']) {
    seen.attributes[name] = await user.getAttribute(name);
  }
  seen.tagName = await user.getTagName();
  seen.windowRect = await driver.manage().window().getRect();
  const logIn = await driver.findElement(By.linkText('Log In'));
  seen.buttonRect = await logIn.getRect();
  seen.elementShot = pngSize(await logIn.takeScreenshot());
  seen.screenShot = pngSize(await driver.takeScreenshot());

  // Keys typed by actions into the focused field; the secure field shows bullets.
  // The find of "Log In" made the field's ID stale: find it again.
  const field = await driver.findElement(By.id('userField'));
  await field.clear();
  await field.click();
  await driver.actions().sendKeys('zedX', '\uE003').perform();
  seen.keyed = await driver.findElement(By.id('userField')).getText();
  const password = await driver.findElement(By.id('passwordField'));
  await password.click();
  await driver.actions().sendKeys('pw').perform();
  seen.secret = await password.getText();
  seen.secretValue = await password.getAttribute('value');
  seen.secretSource = await driver.getPageSource();
  // Logging in again puts the keyboard away: it covers the tab bar while it is up.
  await driver.findElement(By.linkText('Log In')).click();

  try {
    await driver.findElement(By.xpath('//UIButton[@name="Log In"'));
    seen.invalidSelector = 'no error';
  } catch (e) {
    seen.invalidSelector = e.name;
  }

  // A tap at the Settings tab's point on the screen.
  const tab = await (await driver.findElement(By.linkText('Settings'))).getRect();
  await driver.actions()
    .move({ x: Math.round(tab.x + tab.width / 2), y: Math.round(tab.y + tab.height / 2), origin: Origin.VIEWPORT })
    .click().perform();
  seen.settings = await driver.findElement(By.id('settingsStatus')).getText();
  seen.switchLabel = await driver.findElement(By.id('notificationsSwitch')).getAttribute('name');

  // The list: a finger pressed, moved up and lifted scrolls it; "mobile: scroll"
  // brings Row 30 into view.
  await driver.findElement(By.linkText('List')).click();
  // The list keeps its place between sessions: back to the top first.
  await driver.executeScript('mobile: scroll', { direction: 'up', strategy: 'link text', selector: 'Row 1' });
  seen.row1Before = (await driver.findElements(By.linkText('Row 1'))).length;
  const list = await driver.findElement(By.id('listScroll'));
  await driver.actions()
    .move({ origin: list, x: 0, y: 150 }).press()
    .move({ origin: Origin.POINTER, x: 0, y: -300, duration: 300 }).release().perform();
  seen.row1After = (await driver.findElements(By.linkText('Row 1'))).length;
  await driver.executeScript('mobile: scroll', { direction: 'down', strategy: 'link text', selector: 'Row 30' });
  seen.row30Displayed = await driver.findElement(By.linkText('Row 30')).isDisplayed();
  await driver.findElement(By.linkText('Login')).click();  // back where the next client starts
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [server, device, user] = process.argv.slice(2);
  console.log(JSON.stringify(await seleniumFlow(server, device, user, true)));
}
