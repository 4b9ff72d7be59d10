// The studio page: the device screen (click to tap, drag to swipe, type on the
// keyboard), the application's state, the recorded steps as they arrive and their
// edits, spy mode, Open, Save, Export and Replay. Everything comes from the studio's JSON
// routes; /api/state answers when something changed.
'use strict';

const studio = {
  version: 0,
  list: 0,            // the version of the step list shown
  steps: [],          // step views, in recording order
  replaying: false,
  focusAfter: null,   // the control to focus once the list is shown again
  screenVersion: -1,
  spyVersion: -1,
  width: 0,           // the screen in points
  height: 0,
  results: [],
  notice: '',         // the device's notice while it covers the screen
};

const $ = (id) => document.getElementById(id);

function showError(message) {
  $('error').textContent = message || '';
}

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body || {}),
  });
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) {
    showError(answer.message || response.statusText);
    const error = new Error(answer.message || response.statusText);
    error.answer = answer;
    throw error;
  }
  showError('');
  return answer;
}

function button(text, className, label, onClick) {
  const element = document.createElement('button');
  element.type = 'button';
  element.className = className;
  element.textContent = text;
  if (label) element.setAttribute('aria-label', label);
  element.addEventListener('click', onClick);
  return element;
}

// ---- the screen -------------------------------------------------------------

const screenImage = $('screen-image');
screenImage.addEventListener('load', () => {
  // When the shown image changed, for people and for measurements.
  screenImage.dataset.version = screenImage.dataset.loading;
  screenImage.dataset.shownAt = String(Date.now());
  // Not an image of a run the studio has since left.
  if (screenImage.dataset.loading !== String(studio.screenVersion)) return;
  screenImage.hidden = false;
  $('screen').classList.add('shows-image');
});

// The image is fetched first and shown only once it arrived whole: the page never
// shows a broken image, and the last good one stays meanwhile.
let screenURL = null;
async function loadScreen(version) {
  try {
    const response = await fetch('/api/screen.png?v=' + version);
    if (!response.ok || version !== studio.screenVersion) return;
    const url = URL.createObjectURL(await response.blob());
    if (version !== studio.screenVersion) return URL.revokeObjectURL(url);
    if (screenURL) URL.revokeObjectURL(screenURL);
    screenURL = url;
    screenImage.dataset.loading = String(version);
    screenImage.src = url;
  } catch (error) {
    // The next state brings the next version.
  }
}

function hideScreenImage() {
  screenImage.hidden = true;
  $('screen').classList.remove('shows-image');
}

// What stands in for the screen, or is said over it when it is not live.
function screenWords(state) {
  const app = state.app;
  const address = state.device.address;
  if (app.state === 'starting') return 'Starting the application…';
  if (app.state === 'exited') return 'The application ' + (app.exit || 'exited') + '.';
  if (app.state === 'none') return 'No application answers on ' + address + '.';
  if (app.state === 'silent') return 'The application does not answer on ' + address + '.';
  return 'Waiting for the first screen…';
}

function showScreen(state) {
  const screen = state.screen;
  studio.width = screen.width;
  studio.height = screen.height;
  const frame = $('screen');
  frame.style.aspectRatio = screen.width + ' / ' + screen.height;
  $('placeholder-text').textContent = screenWords(state);
  const stale = screen.available && !screen.live;
  frame.classList.toggle('stale', stale);
  $('screen-stale').hidden = !stale;
  $('screen-stale').textContent = stale ? 'Not live: ' + screenWords(state).replace(/^./, (c) => c.toLowerCase()) : '';
  if (!screen.available) {
    studio.screenVersion = screen.version;
    hideScreenImage();
    return;
  }
  if (screen.version === studio.screenVersion) return;
  studio.screenVersion = screen.version;
  loadScreen(screen.version);
}

// A mouse position on the image as a point of the device screen.
function devicePoint(event) {
  const box = screenImage.getBoundingClientRect();
  const scaleX = studio.width / box.width;
  const scaleY = studio.height / box.height;
  return { x: (event.clientX - box.left) * scaleX, y: (event.clientY - box.top) * scaleY };
}

// Taps, swipes and typing reach the device one after the other, in the order the
// person made them: a tap never overtakes the keys typed before it.
let deviceQueue = Promise.resolve();
function toDevice(path, body) {
  const sent = deviceQueue.then(() => post(path, typeof body === 'function' ? body() : body));
  deviceQueue = sent.catch(() => {});
  return sent;
}

let pressed = null;
screenImage.addEventListener('mousedown', (event) => {
  if (event.button !== 0) return;
  event.preventDefault();
  $('screen').focus();
  pressed = { point: devicePoint(event), clientX: event.clientX, clientY: event.clientY };
});
window.addEventListener('mouseup', (event) => {
  if (!pressed || !studio.width) return;
  const start = pressed;
  pressed = null;
  if ($('screen').classList.contains('stale')) {
    showError('The screen is not live: no application takes the touch.');
    return;
  }
  if (studio.notice) {  // the device would give the touch to its notice
    showError('Wait for the device\'s notice to go: it takes every touch meanwhile.');
    return;
  }
  const end = devicePoint(event);
  const moved = Math.hypot(event.clientX - start.clientX, event.clientY - start.clientY);
  if (moved < 6) {
    toDevice('/api/tap', start.point).catch(() => {});
  } else {
    toDevice('/api/swipe', { x1: start.point.x, y1: start.point.y, x2: end.x, y2: end.y }).catch(() => {});
  }
});

// Keys typed while the screen has the focus: the keys typed while the device is
// busy go together in one batch, which keeps its place in the queue.
let batch = null;  // the batch not sent yet
function sendTyped(text) {
  if (batch) {
    batch.text += text;
    return;
  }
  const mine = { text };
  batch = mine;
  toDevice('/api/type', () => {
    if (batch === mine) batch = null;
    return { text: mine.text };
  }).catch(() => {});
}
$('screen').addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  let text = null;
  if (event.key === 'Enter') text = '\n';
  else if (event.key === 'Backspace') text = '\b';
  else if (event.key.length === 1) text = event.key;
  if (text === null) return;
  event.preventDefault();
  sendTyped(text);
});

// ---- steps ------------------------------------------------------------------

function quoted(text) {
  return '"' + text + '"';
}

// One edit of a step; the list comes back whole, and the focus goes to `focus`
// (a control's class and a step index) when it is there.
function editStep(body, focus) {
  studio.focusAfter = focus;
  return post('/api/edit', body).catch(() => { studio.focusAfter = null; });
}

function stepItem(step) {
  const index = step.index;
  const number = index + 1;
  const item = document.createElement('li');
  item.className = 'step';
  item.dataset.index = String(index);
  const numberText = document.createElement('span');
  numberText.className = 'step-number';
  numberText.textContent = String(number);
  item.append(numberText);
  // When the step reached the studio and when it was listed, for measurements.
  item.dataset.receivedAt = String(step.receivedMs);
  item.dataset.listedAt = String(Date.now());
  if (step.image) {
    const image = document.createElement('img');
    image.className = 'step-image';
    image.alt = step.className;
    image.src = 'data:image/jpeg;base64,' + step.image;
    item.append(image);
  }
  const words = document.createElement('span');
  const action = document.createElement('span');
  action.className = 'step-action';
  action.textContent = step.action;
  const target = document.createElement('span');
  target.className = 'step-class';
  target.textContent = ' ' + step.className + (step.mode === 'web' ? ' (web)' : '');
  const text = document.createElement('span');
  text.className = 'step-text';
  text.textContent = step.text ? ' ' + quoted(step.text) : '';
  words.append(action, target, text);
  if (step.action === 'assert text') {
    const data = document.createElement('span');
    data.className = 'step-data';
    data.textContent = ' reads ' + quoted(step.expected);
    words.append(data);
  }
  if (step.action === 'TypeTextOnEditBox') {
    const data = document.createElement('span');
    data.className = 'step-data';
    const input = document.createElement('input');
    input.type = 'text';
    input.className = 'step-data-input';
    input.value = step.data;
    input.setAttribute('aria-label', 'Text typed by step ' + number);
    // Enter or leaving the field keeps the new text (once).
    let kept = step.data;
    const keep = () => {
      if (input.value === kept) return;
      kept = input.value;
      editStep({ index, edit: 'text', text: kept }, { index, className: 'step-data-input' });
    };
    input.addEventListener('change', keep);
    input.addEventListener('keydown', (event) => {
      if (event.key === 'Enter') keep();
      if (event.key === 'Escape') input.value = step.data;
    });
    data.append(' types ', input);
    words.append(data);
  }
  words.className = 'step-words';
  const tools = document.createElement('span');
  tools.className = 'step-tools';
  tools.append(
    button('\u2191', 'step-up', 'Move step ' + number + ' up',
      () => editStep({ index, edit: 'up' }, { index: index - 1, className: 'step-up' })),
    button('\u2193', 'step-down', 'Move step ' + number + ' down',
      () => editStep({ index, edit: 'down' }, { index: index + 1, className: 'step-down' })),
    button('Delete', 'step-delete', 'Delete step ' + number,
      () => editStep({ index, edit: 'delete' }, { index, className: 'step-delete' })));
  const result = document.createElement('span');
  result.className = 'step-result';
  item.append(words, result, tools);
  return item;
}

// The focus after an edit: the same control of the step where it went (the one
// before it when it was the last step and went away).
function restoreFocus() {
  const wanted = studio.focusAfter;
  if (!wanted) return;
  studio.focusAfter = null;
  const items = $('steps').children;
  const item = items[Math.min(wanted.index, items.length - 1)];
  const control = item && (item.querySelector('.' + wanted.className + ':not(:disabled)') ||
    item.querySelector('button:not(:disabled)'));
  (control || $('steps')).focus();
}

function showSteps(state) {
  const list = $('steps');
  const rebuilt = state.list !== studio.list;
  if (rebuilt) {  // edited, opened or cleared: the state holds all of them
    studio.list = state.list;
    studio.steps = [];
    list.textContent = '';
  }
  for (const step of state.steps) {
    if (step.index !== studio.steps.length) continue;
    studio.steps.push(step);
    list.append(stepItem(step));
  }
  // The first and last steps cannot move further, and nothing is edited during a replay.
  const items = [...list.children];
  items.forEach((item, i) => {
    item.querySelector('.step-up').disabled = studio.replaying || i === 0;
    item.querySelector('.step-down').disabled = studio.replaying || i === items.length - 1;
    item.querySelector('.step-delete').disabled = studio.replaying;
    const input = item.querySelector('.step-data-input');
    if (input) input.disabled = studio.replaying;
  });
  if (rebuilt) restoreFocus();
}

function showReplay(replay) {
  const items = $('steps').children;
  for (const item of items) {
    item.classList.remove('passed', 'failed');
    item.querySelector('.step-result').textContent = '';
  }
  for (const result of replay.results) {
    const item = items[result.index];
    if (!item) continue;
    item.classList.add(result.passed ? 'passed' : 'failed');
    item.querySelector('.step-result').textContent = 'step ' + (result.index + 1) + ' ' +
      (result.passed ? 'passed' : 'failed: ' + result.message) + ' (' + result.ms + ' ms)';
  }
  $('replay-summary').textContent = replay.summary ? '— ' + replay.summary : '';
  for (const id of ['replay', 'record-again', 'restart', 'open', 'clear']) $(id).disabled = replay.running;
}

// ---- spy --------------------------------------------------------------------

function showNotice(notice) {
  studio.notice = notice || '';
  const shown = $('device-notice');
  shown.hidden = !studio.notice;
  shown.textContent = studio.notice ? 'The device shows \u201c' + studio.notice + '\u201d for about 5 seconds ' +
    'and takes every touch meanwhile: wait for it to go.' : '';
  if (!studio.notice && $('error').textContent.startsWith('Wait for the device')) showError('');
}

function showSpy(state) {
  $('spy-toggle').checked = state.spyMode;
  $('spy-toggle').disabled = state.recorder !== 'recording';  // spy mode is the recorder session's
  $('spy-panel').hidden = state.spy.records.length === 0;
  if (state.spy.version === studio.spyVersion) return;
  studio.spyVersion = state.spy.version;
  const list = $('spy-list');
  list.textContent = '';
  state.spy.records.forEach((record, index) => {
    const item = document.createElement('li');
    item.className = index === 0 ? 'picked' : 'ancestor';
    const name = record.className + (record.text ? ' ' + quoted(record.text) : '') +
      (record.id ? ' #' + record.id : '');
    const pick = button(name, 'spied', 'Highlight ' + name, () => post('/api/highlight', { index }).catch(() => {}));
    pick.title = record.xpath;
    item.append(pick);
    // A text check only of an element that shows a text.
    for (const kind of record.text ? ['text', 'visible', 'enabled'] : ['visible', 'enabled']) {
      item.append(button('assert ' + kind, 'assert assert-' + kind, 'Assert ' + kind + ' of ' + name,
        () => post('/api/assert', { index, kind }).catch(() => {})));
    }
    list.append(item);
  });
}

$('spy-toggle').addEventListener('change', (event) => {
  post('/api/spy', { on: event.target.checked }).catch(() => { event.target.checked = !event.target.checked; });
});
$('replay').addEventListener('click', () => post('/api/replay').catch(() => {}));
$('clear').addEventListener('click', () => post('/api/clear').catch(() => {}));
$('restart').addEventListener('click', () => post('/api/restart').catch(() => {}));
$('record-again').addEventListener('click', () => post('/api/record-again').catch(() => {}));
// Save and Export are links; Space presses them as it does a button.
for (const id of ['save', 'export-webdriverio', 'export-python']) {
  $(id).addEventListener('keydown', (event) => {
    if (event.key === ' ') {
      event.preventDefault();
      $(id).click();
    }
  });
}

// Export: the recording as a test of its own, downloaded under the name the studio
// gives it. Without a step there is nothing to export: said here, not as a file.
for (const id of ['export-webdriverio', 'export-python']) {
  $(id).addEventListener('click', (event) => {
    if (studio.steps.length > 0) return;
    event.preventDefault();
    showError('There is no step to export yet.');
  });
}

// ---- a saved recording opened again ---------------------------------------------

function showProblems(problems) {
  const list = $('open-problems');
  list.textContent = '';
  for (const problem of problems) {
    const item = document.createElement('li');
    item.textContent = problem;
    list.append(item);
  }
  list.hidden = problems.length === 0;
}

$('open').addEventListener('click', () => $('open-file').click());
$('open-file').addEventListener('change', async (event) => {
  const file = event.target.files[0];
  event.target.value = '';  // the same file can be opened again
  if (!file) return;
  showProblems([]);
  try {
    studio.focusAfter = { index: 0, className: 'step-delete' };
    await post('/api/open', { name: file.name, text: await file.text() });
  } catch (error) {
    studio.focusAfter = null;
    showProblems((error.answer && error.answer.problems) || []);
  }
});

// ---- the session's state ------------------------------------------------------

const kRecorderText = {
  connecting: 'connecting to the agent…',
  waiting: 'waiting for the application',
  recording: 'recording',
};

const kAppText = {
  starting: 'application starting',
  running: 'application running',
  exited: 'application exited',
  silent: 'application not answering',
};

function showApplication(state) {
  const app = state.app;
  const status = $('app-status');
  status.textContent = app.state === 'none' ? 'no application answers on ' + state.device.address
    : app.managed || app.state !== 'running' ? kAppText[app.state] || app.state : '';
  status.className = 'status ' + app.state;
  $('app-panel').hidden = !app.managed;
  $('record-again').hidden = !app.managed;
  $('record-again-hint').textContent = app.managed ? '"Record again" starts the application again for a new recording.'
    : 'Start the application again to record again.';
  if (!app.managed) return;
  $('app-command').textContent = app.command;
  const log = (app.log || []).join('\n');
  $('app-log-box').hidden = app.state !== 'exited' || !log;
  if ($('app-log').textContent !== log) {
    $('app-log').textContent = log;
    $('app-log').scrollTop = $('app-log').scrollHeight;  // the last line is the one that matters
  }
}

function apply(state) {
  const status = $('recorder-status');
  status.textContent = state.recorder === 'ended'
    ? 'recording session ended: ' + (state.app.managed ? '"Record again" starts a new one' : 'start the application again to record again')
    : kRecorderText[state.recorder] || state.recorder;
  status.className = 'status ' + state.recorder;
  $('record-again').classList.toggle('primary', state.recorder === 'ended');
  studio.replaying = state.replay.running;
  showApplication(state);
  showScreen(state);
  showNotice(state.notice);
  showSpy(state);
  showSteps(state);
  showReplay(state.replay);
  studio.version = state.version;
}

async function follow() {
  for (;;) {
    try {
      const response = await fetch('/api/state?since=' + studio.version + '&steps=' + studio.steps.length +
        '&list=' + studio.list);
      if (!response.ok) throw new Error(response.statusText);
      apply(await response.json());
    } catch (error) {
      $('recorder-status').textContent = 'the studio cannot be reached';
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

follow();
