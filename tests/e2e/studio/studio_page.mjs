// The studio page in headless Chromium (chromedriver, selenium-webdriver), as a
// person uses it, on the application the studio runs itself: taps on the screen
// image, typing, the recorded steps arriving with their images and numbers, Save,
// the spy list, Replay, Record again, the application's exit and Restart, a saved
// recording opened and edited. Started by StudioPageE2ETest with the studio's
// address and the places of the views to touch in QV_STUDIO_SCENE:
// {"url", "work", "devicePort", "screen": {"width", "height"},
//  "userField"|"logIn"|"outcome": {"x", "y"}}.
// Screenshots of each stage go to the work folder. Prints "app pid N" for each run
// it met and "saved <file>" once the edited recording is downloaded; exits non-zero
// on the first failed check.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { Builder, By, Key, until } from 'selenium-webdriver';
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
  '--user-data-dir=' + fs.mkdtempSync(path.join(scene.work, 'profile-')), '--window-size=1180,1040');
options.setUserPreferences({
  'download.default_directory': scene.work,
  'download.prompt_for_download': false,
  // Without it a headless Chromium keeps a downloaded script (.py, .mjs) unconfirmed.
  'safebrowsing.enabled': true,
});
const driver = await new Builder()
  .forBrowser('chrome')
  .setChromeOptions(options)
  .setChromeService(new chrome.ServiceBuilder('/usr/bin/chromedriver'))
  .build();

const byId = (id) => driver.findElement(By.id(id));
const text = async (id) => (await byId(id)).getText();
async function screenshot(name) {
  fs.writeFileSync(path.join(scene.work, name), Buffer.from(await driver.takeScreenshot(), 'base64'));
}
async function state() {
  return driver.executeAsyncScript((done) => fetch('/api/state').then((r) => r.json()).then(done));
}
// The screen frame: never a broken image, and always the device's aspect.
async function checkScreenFrame() {
  const frame = await driver.executeScript(() => {
    const image = document.getElementById('screen-image');
    const box = document.getElementById('screen').getBoundingClientRect();
    return { broken: !image.hidden && !(image.complete && image.naturalWidth > 0),
      width: box.width - 20, height: box.height - 20 };
  });
  assert.ok(!frame.broken, 'a broken screen image');
  assert.ok(Math.abs(frame.width / frame.height - scene.screen.width / scene.screen.height) < 0.01,
    `the screen is ${frame.width}x${frame.height}`);
}
// A run of the application other than `previous` that shows its screen and records.
async function appRunning(previous) {
  let pid = 0;
  await driver.wait(async () => {
    const now = await state();
    pid = now.app.pid;
    return pid > 0 && pid !== previous && now.app.state === 'running' && now.screen.available &&
      now.recorder === 'recording';
  }, kWait, 'the application never ran');
  await driver.wait(until.elementTextIs(byId('app-status'), 'application running'), kWait);
  await driver.wait(until.elementTextIs(byId('recorder-status'), 'recording'), kWait);
  await driver.wait(async () => (await byId('screen-image').getAttribute('hidden')) === null, kWait,
    'no screen image');
  console.log('app pid ' + pid);
  return pid;
}

// A device point clicked on the screen image (offsets from the image's centre).
async function clickScreen(point) {
  const image = await byId('screen-image');
  const box = await image.getRect();
  const x = Math.round(point.x * box.width / scene.screen.width - box.width / 2);
  const y = Math.round(point.y * box.height / scene.screen.height - box.height / 2);
  await driver.actions().move({ origin: image, x, y }).press().release().perform();
}
async function stepRows() {
  return driver.executeScript(() => [...document.querySelectorAll('#steps li')].map((li) => ({
    number: li.querySelector('.step-number').textContent,
    action: li.querySelector('.step-action').textContent,
    target: li.querySelector('.step-class').textContent.trim(),
    text: li.querySelector('.step-text').textContent.trim(),
    data: li.querySelector('.step-data input')?.value ?? li.querySelector('.step-data')?.textContent.trim() ?? null,
    image: li.querySelector('img')?.naturalWidth ?? 0,
    result: li.className,
    reason: li.querySelector('.step-result').textContent,
  })));
}
const summary = (rows) => rows.map((r) => [r.number, r.action, r.data]);
async function recordLogin(user) {
  await clickScreen(scene.userField);
  await byId('screen').sendKeys(user);
  await clickScreen(scene.logIn);
  await driver.wait(async () => (await stepRows()).length >= 3, kWait, 'three steps never arrived');
  const rows = await stepRows();
  assert.deepEqual(summary(rows), [
    ['1', 'Click', null],
    ['2', 'TypeTextOnEditBox', user],
    ['3', 'ClickButton', null],
  ]);
  assert.equal(rows[2].text, '"Log In"');
  for (const row of rows) assert.ok(row.image > 0, `no element image for ${row.action}`);
}
async function replayPasses(count) {
  await byId('replay').click();
  await driver.wait(async () => {
    const rows = await stepRows();
    return rows.length === count && rows.every((r) => r.result.includes('passed'));
  }, kWait, 'the replayed steps were not all marked passed');
  await driver.wait(until.elementTextContains(byId('replay-summary'), `${count} of ${count} steps passed`), kWait);
  await driver.wait(until.elementTextContains(byId('recorder-status'), 'ended'), kWait);
}
async function download(name) {
  const saved = path.join(scene.work, 'recording.jsonl');
  fs.rmSync(saved, { force: true });
  await byId('save').sendKeys(' ');  // Space presses Save like a button
  await driver.wait(() => fs.existsSync(saved) && fs.readFileSync(saved, 'utf8').endsWith('\n'), kWait,
    'the recording was not downloaded');
  fs.renameSync(saved, path.join(scene.work, name));
  return path.join(scene.work, name);
}

try {
  await driver.get(scene.url);
  await checkScreenFrame();
  const firstPid = await appRunning();
  await checkScreenFrame();
  // The controls in the order Tab takes them, from the screen on.
  await driver.executeScript(() => document.getElementById('screen').focus());
  const order = [];
  for (let i = 0; i < 9; ++i) {
    await driver.actions().sendKeys(Key.TAB).perform();
    order.push(await driver.executeScript(() => document.activeElement.id));
  }
  assert.deepEqual(order, ['restart', 'record-again', 'replay', 'open', 'save', 'export-webdriverio', 'export-python',
    'clear', 'spy-toggle']);
  const outline = await driver.executeScript(() => getComputedStyle(document.activeElement).outlineStyle);
  assert.equal(outline, 'solid', 'the focus is not visible');
  await screenshot('1-running.png');

  // ---- a login recorded, with a check of the spied outcome, saved and replayed ----
  await recordLogin('abc');
  // Spy: the device's notice of the switch covers the screen for a while, and the
  // page says so until it has gone. Then a touch on the outcome label lists it and
  // its ancestors; choosing the label highlights it on the device (its layer gets
  // a border for a second, as it did when it was spied).
  const notice = byId('device-notice');
  await byId('spy-toggle').sendKeys(' ');
  await driver.wait(async () => (await byId('spy-toggle').isSelected()), kWait);
  await driver.wait(until.elementTextContains(notice, 'Switched to Spy Mode'), kWait);
  assert.match(await notice.getText(), /takes every touch meanwhile: wait for it to go/);
  await driver.wait(until.elementIsNotVisible(notice), kWait, 'the notice never went');
  await clickScreen(scene.outcome);
  await driver.wait(async () => (await driver.findElements(By.css('#spy-list li'))).length >= 2, kWait,
    'no spy list');
  const spied = await driver.executeScript(() => [...document.querySelectorAll('#spy-list li')].map((li) => ({
    name: li.querySelector('.spied').textContent,
    checks: [...li.querySelectorAll('.assert')].map((b) => b.textContent),
  })));
  assert.match(spied[0].name, /^UILabel "Welcome, abc" #outcomeLabel/);
  assert.deepEqual(spied[0].checks, ['assert text', 'assert visible', 'assert enabled']);
  // Containers show no text: no text check is offered on them.
  for (const ancestor of spied.slice(1)) {
    assert.ok(!ancestor.name.startsWith('UILabel'), ancestor.name);
    assert.deepEqual(ancestor.checks, ['assert visible', 'assert enabled'], ancestor.name);
  }
  const outcomeBorder = async () =>
    /border=4/.test((await deviceTree(scene.devicePort)).find((l) => l.includes('id="outcomeLabel"')) ?? '');
  await driver.wait(async () => !(await outcomeBorder()), kWait, 'the spy\'s own border stayed');
  await driver.findElement(By.css('#spy-list li.picked button.spied')).click();
  await driver.wait(outcomeBorder, 5000, 'the chosen element was not highlighted');
  await driver.findElement(By.css('#spy-list li.picked button.assert-text')).click();
  await driver.wait(async () => (await stepRows()).length === 4, kWait, 'no assertion step');
  const check = (await stepRows())[3];
  assert.deepEqual([check.number, check.action, check.target, check.text, check.data],
    ['4', 'assert text', 'UILabel', '"Welcome, abc"', 'reads "Welcome, abc"']);
  // Spy off: its notice shows again, and Replay below waits for it to go.
  await byId('spy-toggle').sendKeys(' ');
  await driver.wait(async () => !(await byId('spy-toggle').isSelected()), kWait);
  await driver.wait(until.elementTextContains(notice, 'Switched to Recording Mode'), kWait);
  const first = await download('first.jsonl');
  assert.equal(fs.readFileSync(first, 'utf8').trim().split('\n').length, 4);
  await replayPasses(4);
  assert.match(await text('replay-notice'), /"Record again" starts the application again/);
  await screenshot('2-replayed.png');

  // ---- Record again: a new run of the application, a new recording, replayed ----
  await byId('record-again').sendKeys(Key.ENTER);
  await driver.wait(async () => (await stepRows()).length === 0, kWait, 'the steps stayed');
  assert.ok(!(await byId('spy-panel').isDisplayed()), 'the old spy list stayed');
  const secondPid = await appRunning(firstPid);
  assert.notEqual(secondPid, firstPid);
  await checkScreenFrame();
  await recordLogin('xyz');
  await replayPasses(3);
  await screenshot('3-recorded-again.png');

  // ---- the application ends: its last screen is marked, its last lines shown ----
  process.kill(secondPid, 'SIGKILL');
  await driver.wait(until.elementTextIs(byId('app-status'), 'application exited'), kWait);
  await driver.wait(until.elementIsVisible(byId('screen-stale')), kWait, 'the last screen is not marked');
  assert.match(await text('screen-stale'), /^Not live: the application ended by signal 9/);
  assert.match(await text('app-log'), /sample-app\[\d+/);
  await checkScreenFrame();
  await screenshot('4-exited.png');
  await byId('restart').click();
  await appRunning(secondPid);
  assert.equal((await stepRows()).length, 3, 'Restart keeps the steps');

  // ---- a saved recording opened and edited ----
  const broken = path.join(scene.work, 'broken.jsonl');
  fs.writeFileSync(broken, fs.readFileSync(first, 'utf8').split('\n')[0] + '\n{"assert":"text"\n');
  await byId('open-file').sendKeys(broken);
  await driver.wait(until.elementIsVisible(byId('open-problems')), kWait, 'a broken file was taken');
  assert.match(await text('open-problems'), /^broken\.jsonl:2: /);
  assert.equal((await stepRows()).length, 3, 'a broken file replaced the steps');
  await byId('open-file').sendKeys(first);
  await driver.wait(async () => (await stepRows()).length === 4, kWait, 'the saved recording was not opened');
  assert.ok(!(await byId('open-problems').isDisplayed()));
  // The typed text of step 2 edited; step 4 moved up, and down again, with the keyboard.
  const typed = await driver.findElement(By.css('#steps li:nth-child(2) .step-data-input'));
  await typed.sendKeys(Key.chord(Key.CONTROL, 'a'), 'zed', Key.ENTER);
  await driver.wait(until.stalenessOf(typed), kWait, 'the list was not shown again');
  assert.equal((await stepRows())[1].data, 'zed');
  assert.equal(await driver.executeScript(() => document.activeElement.getAttribute('aria-label')),
    'Text typed by step 2', 'the focus did not stay in the edited field');
  await driver.findElement(By.css('#steps li:nth-child(4) .step-up')).sendKeys(Key.ENTER);
  await driver.wait(async () => (await stepRows())[2].action === 'assert text', kWait, 'step 4 did not move up');
  assert.equal(await driver.executeScript(() => document.activeElement.getAttribute('aria-label')),
    'Move step 3 up', 'the focus did not follow the moved step');
  await driver.findElement(By.css('#steps li:nth-child(3) .step-down')).sendKeys(Key.SPACE);
  await driver.wait(async () => (await stepRows())[3].action === 'assert text', kWait, 'step 3 did not move down');
  assert.deepEqual(summary(await stepRows()), [
    ['1', 'Click', null], ['2', 'TypeTextOnEditBox', 'zed'], ['3', 'ClickButton', null],
    ['4', 'assert text', 'reads "Welcome, abc"']]);

  // Replayed as it is, the check fails with a long reason that stays in its box;
  // nothing is edited meanwhile.
  await byId('replay').click();
  await driver.wait(async () => (await byId('replay').getAttribute('disabled')) !== null, kWait);
  const refused = await driver.executeAsyncScript((done) => fetch('/api/edit', {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{"index":0,"edit":"delete"}',
  }).then((r) => done(r.status)));
  assert.equal(refused, 409, 'an edit during a replay was taken');
  assert.ok(!(await driver.findElement(By.css('#steps li:nth-child(1) .step-delete')).isEnabled()));
  await driver.wait(async () => (await stepRows())[3].result.includes('failed'), kWait, 'the check did not fail');
  const failed = (await stepRows())[3];
  assert.match(failed.reason, /^step 4 failed: .*reads "Welcome, zed", expected "Welcome, abc"/);
  const fits = await driver.executeScript(() => {
    const item = document.querySelector('#steps li:nth-child(4)');
    const reason = item.querySelector('.step-result').getBoundingClientRect();
    const box = item.getBoundingClientRect();
    return item.scrollWidth <= item.clientWidth && reason.right <= box.right && reason.left >= box.left;
  });
  assert.ok(fits, 'the failure reason overflows its step');
  await driver.wait(async () => (await byId('replay').getAttribute('disabled')) === null, kWait);
  assert.match(await text('replay-summary'), /3 of 4 steps passed/);
  await screenshot('5-edited-replayed.png');

  // The check deleted (Space on its Delete button), and the edited recording saved.
  await driver.findElement(By.css('#steps li:nth-child(4) .step-delete')).sendKeys(Key.SPACE);
  await driver.wait(async () => (await stepRows()).length === 3, kWait, 'the step was not deleted');
  assert.deepEqual(summary(await stepRows()),
    [['1', 'Click', null], ['2', 'TypeTextOnEditBox', 'zed'], ['3', 'ClickButton', null]]);
  const edited = await download('edited.jsonl');
  await screenshot('6-edited.png');
  // Export: the same three steps as tests of their own, the edited text in them, and
  // the module one that Node can load.
  for (const [id, file, call] of [['export-python', 'recording_test.py', /^ +step\(\d+, \d+, /gm],
    ['export-webdriverio', 'recording.test.mjs', /^ +await step\(\d+, \d+, /gm]]) {
    const exported = path.join(scene.work, file);
    fs.rmSync(exported, { force: true });
    await byId(id).sendKeys(id === 'export-python' ? Key.SPACE : Key.ENTER);
    await driver.wait(() => fs.existsSync(exported) && fs.statSync(exported).size > 0, kWait, `no ${file}`);
    const source = fs.readFileSync(exported, 'utf8');
    assert.equal(source.match(call)?.length, 3, source);
    assert.match(source, /type(_text)?\("zed"\)/);
  }
  console.log('saved ' + edited);
} finally {
  await driver.quit();
}
