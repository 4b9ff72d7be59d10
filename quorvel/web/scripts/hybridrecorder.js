// Recording inside the page. A tap (click) or text typed into a field becomes a
// recorded step: a JSON array of one step object, with "mode" "web", the element's
// page xpath and the placeholder ZARVO_OBJECT_IMAGE@<time> where the agent puts the
// image of the touched area. In spy mode a tap does nothing on the page: the element is
// highlighted and described, with its ancestors, in a spy list instead.
//
// The agent collects with startRecording(), one document per call, oldest first.
var ZarvoPage = window.ZarvoPage || (function () {
  'use strict';

  var kImagePlaceholder = 'ZARVO_OBJECT_IMAGE';
  var kTextTypes = ['text', 'search', 'email', 'url', 'tel', 'password', 'number'];

  function collapse(text) {
    return String(text || '').replace(/\s+/g, ' ').trim();
  }

  function isTextField(element) {
    if (element.tagName === 'TEXTAREA') return true;
    return element.tagName === 'INPUT' && kTextTypes.indexOf((element.type || 'text').toLowerCase()) >= 0;
  }

  function isToggle(element) {
    return element.tagName === 'INPUT' && (element.type === 'checkbox' || element.type === 'radio');
  }

  function isButton(element) {
    if (element.tagName === 'BUTTON') return true;
    if (element.getAttribute && element.getAttribute('role') === 'button') return true;
    return element.tagName === 'INPUT' && ['button', 'submit', 'reset', 'image'].indexOf(element.type) >= 0;
  }

  // An element whose text is its value.
  function isField(element) {
    return element.tagName === 'INPUT' || element.tagName === 'TEXTAREA' || element.tagName === 'SELECT';
  }

  // The text a person sees on the element: a field's value (a button input's
  // caption), else its rendered text.
  function textOf(element) {
    if (isField(element)) return String(element.value || '');
    return collapse(element.innerText !== undefined ? element.innerText : element.textContent);
  }

  function labelOf(element) {
    var names = ['aria-label', 'title', 'placeholder', 'alt'];
    for (var i = 0; i < names.length; i++) {
      var value = element.getAttribute && element.getAttribute(names[i]);
      if (value) return value;
    }
    return '';
  }

  function tagOf(element) {
    return element.tagName.toLowerCase();
  }

  // The element's box in page coordinates, whole numbers as texts.
  function geometry(element, into) {
    var r = element.getBoundingClientRect();
    into.X = String(Math.round(r.left + window.scrollX));
    into.Y = String(Math.round(r.top + window.scrollY));
    into.height = String(Math.round(r.height));
    into.width = String(Math.round(r.width));
    return into;
  }

  function isShown(element) {
    var r = element.getBoundingClientRect();
    return r.width > 0 && r.height > 0 && window.getComputedStyle(element).visibility !== 'hidden';
  }

  // Position among the shown elements of the same tag, from 0.
  function indexOf(element) {
    var same = document.getElementsByTagName(element.tagName);
    var index = 0;
    for (var i = 0; i < same.length; i++) {
      if (same[i] === element) return index;
      if (isShown(same[i])) index++;
    }
    return 0;
  }

  function parentOf(element) {
    var parent = element.parentElement;
    var description = { title: parent ? tagOf(parent) : '', id: parent ? parent.id : '', label: parent ? labelOf(parent) : '' };
    if (parent) {
      geometry(parent, description);
    } else {
      description.X = description.Y = description.height = description.width = '0';
    }
    return description;
  }

  function actionFor(element) {
    if (isToggle(element)) return element.checked ? 'Mobile_SelectSwitch' : 'Mobile_DeSelectSwitch';
    if (isButton(element)) return 'ClickButton';
    if (element.tagName === 'IMG') return 'ClickImage';
    return 'Click';
  }

  function step(action, element, data) {
    var text = textOf(element);
    var object = {
      // The agent puts here the image of the touch that produced the step, which
      // it finds by when the step was recorded.
      ObjectImage: kImagePlaceholder + '@' + Date.now(),
      className: tagOf(element),
      id: element.id || '',
      label: labelOf(element),
      elementText: text,
      name: text,
      mode: 'web',
      index: String(indexOf(element)),
      'xpath:position': zarvoXPathOf(element)
    };
    if (text !== '') object.logicalname = text;
    geometry(element, object);
    var parent = parentOf(element);
    object.parent = {
      title: parent.title, classname: parent.title, id: parent.id, label: parent.label,
      X: parent.X, Y: parent.Y, height: parent.height, width: parent.width
    };
    return [{ action: action, popupName: '', arguments: [object, { type: 'string', data: data }] }];
  }

  function spyRecord(element) {
    var text = textOf(element);
    var record = {
      tagName: tagOf(element),
      'class': tagOf(element),
      id: element.id || '',
      label: labelOf(element),
      elementText: text,
      name: text,
      mode: 'web',
      logicalname: text !== '' ? text : (element.id ? element.id : tagOf(element)),
      'xpath:position': zarvoXPathOf(element)
    };
    geometry(element, record);
    var parent = parentOf(element);
    record.parent = {
      title: parent.title, 'class': parent.title, id: parent.id, label: parent.label,
      X: parent.X, Y: parent.Y, height: parent.height, width: parent.width
    };
    return record;
  }

  // The element a tap means: the control around what the finger hit, if any.
  function tapTarget(node) {
    var element = node && node.nodeType === Node.ELEMENT_NODE ? node : (node && node.parentElement);
    if (!element) return null;
    var control = element.closest('button, a, input, select, textarea, label, [role=button]');
    return control || element;
  }

  function highlight(element) {
    var style = element.style;
    var saved = [style.outline, style.outlineOffset];
    style.outline = '4px solid rgb(0, 255, 0)';
    style.outlineOffset = '-2px';
    setTimeout(function () {
      style.outline = saved[0];
      style.outlineOffset = saved[1];
    }, 1000);
  }

  var page = {
    mode: 'record',
    pending: [],
    textOf: textOf,
    isField: isField,
    isTextField: isTextField,
    isShown: isShown,
    queue: function (document) {
      page.pending.push(JSON.stringify(document));
    }
  };

  function onTap(event) {
    var element = tapTarget(event.target);
    if (!element || element === document.documentElement) return;
    if (page.mode === 'spy') {
      event.preventDefault();
      event.stopImmediatePropagation();
      highlight(element);
      var list = [];
      for (var e = element; e && e.parentElement; e = e.parentElement) list.push(spyRecord(e));
      page.queue(list);
      return;
    }
    page.queue(step(actionFor(element), element, ''));
  }

  // In spy mode the page does not react to the finger at all.
  function swallowInSpyMode(event) {
    if (page.mode !== 'spy') return;
    event.preventDefault();
    event.stopImmediatePropagation();
  }

  function onChange(event) {
    var element = event.target;
    if (page.mode === 'spy' || !element || !isTextField(element)) return;
    page.queue(step('TypeTextOnEditBox', element, String(element.value)));
  }

  document.addEventListener('click', onTap, true);
  document.addEventListener('mousedown', swallowInSpyMode, true);
  document.addEventListener('mouseup', swallowInSpyMode, true);
  document.addEventListener('change', onChange, true);
  return page;
})();
window.ZarvoPage = ZarvoPage;

// The oldest document recorded since the last call, or '' when there is none.
function startRecording() {
  return ZarvoPage.pending.length ? ZarvoPage.pending.shift() : '';
}

function switchtospymode() {
  ZarvoPage.mode = 'spy';
  return '';
}

function switchtorecordermode() {
  ZarvoPage.mode = 'record';
  return '';
}
