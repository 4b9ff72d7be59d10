// The studio page: the device screen (click to tap, drag to swipe, type on the
// keyboard), the recorded steps as they arrive, spy mode, Save and Replay. Everything
// comes from the studio's JSON routes; /api/state answers when something changed.
'use strict';

const studio = {
  version: 0,
  steps: [],          // step views, in recording order
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
    throw new Error(answer.message || response.statusText);
  }
  showError('');
  return answer;
}

// ---- the screen -------------------------------------------------------------

const screenImage = $('screen-image');
screenImage.addEventListener('load', () => {
  // When the shown image changed, for people and for measurements.
  screenImage.dataset.version = screenImage.dataset.loading;
  screenImage.dataset.shownAt = String(Date.now());
});

function showScreen(screen) {
  studio.width = screen.width;
  studio.height = screen.height;
  if (screen.version === studio.screenVersion || screen.version === 0) return;
  studio.screenVersion = screen.version;
  screenImage.dataset.loading = String(screen.version);
  screenImage.src = '/api/screen.png?v=' + screen.version;
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
  event.preventDefault();
  $('screen').focus();
  pressed = { point: devicePoint(event), clientX: event.clientX, clientY: event.clientY };
});
window.addEventListener('mouseup', (event) => {
  if (!pressed || !studio.width) return;
  const start = pressed;
  pressed = null;
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

function stepItem(step) {
  const item = document.createElement('li');
  item.className = 'step';
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
    data.textContent = ' types ' + quoted(step.data);
    words.append(data);
  }
  const result = document.createElement('span');
  result.className = 'step-result';
  item.append(words, result);
  return item;
}

function showSteps(state) {
  const list = $('steps');
  if (state.stepCount < studio.steps.length) {  // cleared: fetched again from the first
    studio.steps = [];
    list.textContent = '';
    return true;
  }
  for (const step of state.steps) {
    if (step.index !== studio.steps.length) continue;
    studio.steps.push(step);
    list.append(stepItem(step));
  }
  return false;
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
    item.querySelector('.step-result').textContent =
      (result.passed ? 'passed' : 'failed: ' + result.message) + ' (' + result.ms + ' ms)';
  }
  $('replay-summary').textContent = replay.summary ? '— ' + replay.summary : '';
  $('replay').disabled = replay.running;
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
  $('spy-panel').hidden = state.spy.records.length === 0;
  if (state.spy.version === studio.spyVersion) return;
  studio.spyVersion = state.spy.version;
  const list = $('spy-list');
  list.textContent = '';
  state.spy.records.forEach((record, index) => {
    const item = document.createElement('li');
    item.className = index === 0 ? 'picked' : 'ancestor';
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = record.className + (record.text ? ' ' + quoted(record.text) : '') +
      (record.id ? ' #' + record.id : '');
    button.title = record.xpath;
    button.addEventListener('click', () => post('/api/highlight', { index }).catch(() => {}));
    item.append(button);
    for (const kind of ['text', 'visible', 'enabled']) {
      const check = document.createElement('button');
      check.type = 'button';
      check.className = 'assert assert-' + kind;
      check.textContent = 'assert ' + kind;
      check.addEventListener('click', () => post('/api/assert', { index, kind }).catch(() => {}));
      item.append(check);
    }
    list.append(item);
  });
}

$('spy-toggle').addEventListener('change', (event) => {
  post('/api/spy', { on: event.target.checked }).catch(() => { event.target.checked = !event.target.checked; });
});
$('replay').addEventListener('click', () => post('/api/replay').catch(() => {}));
$('clear').addEventListener('click', () => post('/api/clear').catch(() => {}));

// ---- the session's state ------------------------------------------------------

const kRecorderText = {
  connecting: 'connecting to the agent…',
  waiting: 'waiting for the application',
  recording: 'recording',
  ended: 'recording session ended: start the application again to record again',
};

function apply(state) {
  const status = $('recorder-status');
  status.textContent = kRecorderText[state.recorder] || state.recorder;
  status.className = 'status ' + state.recorder;
  showScreen(state.screen);
  const cleared = showSteps(state);
  showNotice(state.notice);
  showSpy(state);
  showReplay(state.replay);
  studio.version = cleared ? 0 : state.version;
}

async function follow() {
  for (;;) {
    try {
      const response = await fetch('/api/state?since=' + studio.version + '&steps=' + studio.steps.length);
      if (!response.ok) throw new Error(response.statusText);
      apply(await response.json());
    } catch (error) {
      $('recorder-status').textContent = 'the studio cannot be reached';
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

follow();
