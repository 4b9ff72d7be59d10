// The studio page in headless Chromium (chromedriver, selenium-webdriver), as a
// person uses it: taps on the screen image, typing, the recorded steps arriving
// with their images, Save, the spy list, Replay. Started by StudioPageE2ETest with
// the studio's address and the places of the views to touch in QV_STUDIO_SCENE:
// {"url", "downloads", "screenshot", "devicePort",
//  "screen": {"width", "height"}, "userField"|"logIn"|"outcome": {"x", "y"}}.
// Prints "saved <file>" once the recording (three steps and an assertion) is
// downloaded; exits non-zero on the
// first failed check.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { Builder, By, until } from 'selenium-webdriver';
import chrome from 'selenium-webdriver/chrome.js';

const scene = JSON.parse(process.env.QV_STUDIO_SCENE);
const kWait = 20000;

// One device input command ("tree"), its answer lines up to "end".
function deviceTree(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    let text = '';
    socket.setTimeout(10000, () => socket.destroy(new Error('the device input did not answer')));
    socket.on('data', (chunk) => {
      text += chunk;
      if (/\nend\n/.test(text)) {
        socket.end();
        resolve(text.split('\n'));
      }
    });
    socket.on('error', reject);
    socket.write('tree\n');
  });
}

const options = new chrome.Options();
options.setChromeBinaryPath(process.env.QUORVEL_CHROMIUM || '/usr/bin/chromium');
options.addArguments('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--user-data-dir=' + fs.mkdtempSync(path.join(scene.downloads, 'profile-')), '--window-size=1280,1100');
options.setUserPreferences({
  'download.default_directory': scene.downloads,
  'download.prompt_for_download': false,
});
const driver = await new Builder()
  .forBrowser('chrome')
  .setChromeOptions(options)
  .setChromeService(new chrome.ServiceBuilder('/usr/bin/chromedriver'))
  .build();

try {
  await driver.get(scene.url);
  const image = await driver.findElement(By.id('screen-image'));
  await driver.wait(async () => Number(await image.getAttribute('naturalWidth')) > 0, kWait,
    'the screen image never showed');

  // A device point clicked on the screen image (offsets from the image's centre).
  async function clickScreen(point) {
    const box = await image.getRect();
    const x = Math.round(point.x * box.width / scene.screen.width - box.width / 2);
    const y = Math.round(point.y * box.height / scene.screen.height - box.height / 2);
    await driver.actions().move({ origin: image, x, y }).press().release().perform();
  }
  async function stepRows() {
    return driver.executeScript(() => [...document.querySelectorAll('#steps li')].map((li) => ({
      action: li.querySelector('.step-action').textContent,
      target: li.querySelector('.step-class').textContent.trim(),
      text: li.querySelector('.step-text').textContent.trim(),
      data: li.querySelector('.step-data')?.textContent.trim() ?? null,
      image: li.querySelector('img')?.naturalWidth ?? 0,
      result: li.className,
    })));
  }
  await driver.wait(until.elementTextIs(driver.findElement(By.id('recorder-status')), 'recording'), kWait);

  await clickScreen(scene.userField);
  await driver.findElement(By.id('screen')).sendKeys('abc');
  await clickScreen(scene.logIn);
  await driver.wait(async () => (await stepRows()).length >= 3, kWait, 'three steps never arrived');
  const rows = await stepRows();
  assert.deepEqual(rows.map((r) => [r.action, r.target, r.data]), [
    ['Click', 'UITextField', null],
    ['TypeTextOnEditBox', 'UITextField', 'types "abc"'],
    ['ClickButton', 'UIButton', null],
  ]);
  assert.equal(rows[2].text, '"Log In"');
  for (const row of rows) assert.ok(row.image > 0, `no element image for ${row.action}`);

  // Spy: the device's notice of the switch covers the screen for a while, and the
  // page says so until it has gone. Then a touch on the outcome label lists it and
  // its ancestors; choosing the label highlights it on the device (its layer gets
  // a border for a second, as it did when it was spied).
  const notice = driver.findElement(By.id('device-notice'));
  await driver.findElement(By.id('spy-toggle')).click();
  await driver.wait(async () => (await driver.findElement(By.id('spy-toggle')).isSelected()), kWait);
  await driver.wait(until.elementTextContains(notice, 'Switched to Spy Mode'), kWait);
  assert.match(await notice.getText(), /takes every touch meanwhile: wait for it to go/);
  await driver.wait(until.elementIsNotVisible(notice), kWait, 'the notice never went');
  await clickScreen(scene.outcome);
  await driver.wait(async () => (await driver.findElements(By.css('#spy-list li'))).length >= 2, kWait,
    'no spy list');
  const spied = await driver.executeScript(() => [...document.querySelectorAll('#spy-list li')].map(
    (li) => li.textContent));
  assert.match(spied[0], /^UILabel "Welcome, abc" #outcomeLabel/);
  assert.ok(spied.slice(1).every((entry) => !entry.startsWith('UILabel')), spied.join(' | '));
  const outcomeBorder = async () =>
    /border=4/.test((await deviceTree(scene.devicePort)).find((l) => l.includes('id="outcomeLabel"')) ?? '');
  await driver.wait(async () => !(await outcomeBorder()), kWait, 'the spy\'s own border stayed');
  await driver.findElement(By.css('#spy-list li.picked button')).click();
  await driver.wait(outcomeBorder, 5000, 'the chosen element was not highlighted');
  // The spied label's text becomes an assertion line of the recording.
  await driver.findElement(By.css('#spy-list li.picked button.assert-text')).click();
  await driver.wait(async () => (await stepRows()).length === 4, kWait, 'no assertion step');
  const check = (await stepRows())[3];
  assert.deepEqual([check.action, check.target, check.text, check.data],
    ['assert text', 'UILabel', '"Welcome, abc"', 'reads "Welcome, abc"']);
  // Spy off: its notice shows again, and Replay below waits for it to go.
  await driver.findElement(By.id('spy-toggle')).click();
  await driver.wait(async () => !(await driver.findElement(By.id('spy-toggle')).isSelected()), kWait);
  await driver.wait(until.elementTextContains(notice, 'Switched to Recording Mode'), kWait);

  await driver.findElement(By.id('save')).click();
  const saved = path.join(scene.downloads, 'recording.jsonl');
  await driver.wait(() => fs.existsSync(saved) && fs.readFileSync(saved, 'utf8').split('\n').length > 4, kWait,
    'the recording was not downloaded');
  console.log('saved ' + saved);

  // Replay in the page marks every step, and ends the recording session.
  await driver.findElement(By.id('replay')).click();
  await driver.wait(async () => (await stepRows()).every((r) => r.result.includes('passed')), kWait,
    'the replayed steps were not all marked passed');
  await driver.wait(until.elementTextContains(driver.findElement(By.id('recorder-status')), 'ended'), kWait);
  assert.match(await driver.findElement(By.id('replay-notice')).getText(), /Replaying ends the recording session/);
  fs.writeFileSync(scene.screenshot, Buffer.from(await driver.takeScreenshot(), 'base64'));
} finally {
  await driver.quit();
}
