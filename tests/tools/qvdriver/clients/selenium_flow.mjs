// The log-in flow through the official Selenium bindings:
//   node selenium_flow.mjs <server URL> <device address> <user name>
// Prints one JSON line with what the client saw; exits non-zero when a step fails.
// The grid test runs the same flow through seleniumFlow().
import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';
import { Builder, By, error } from 'selenium-webdriver';

export async function seleniumFlow(server, device, user) {
  const driver = await new Builder()
    .usingServer(server)
    .withCapabilities({ browserName: '', platformName: 'quorvel', 'quorvel:host': device })
    .build();
  const seen = { opened: Date.now() };
  try {
    await logIn(driver, user, seen);
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

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [server, device, user] = process.argv.slice(2);
  console.log(JSON.stringify(await seleniumFlow(server, device, user)));
}
