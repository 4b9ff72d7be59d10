// Playback inside the page: finding elements by text, partial text, tag or xpath,
// acting on them and reading them. Found elements are named by element IDs (GUID
// texts) valid until the next find. Answers are the JSON text of a reply list, or
// '' when there is nothing to report (an unknown ID, no match). Absent arguments
// arrive as null and match nothing.
var ZarvoPlayer = window.ZarvoPlayer || (function () {
  'use strict';

  var elements = {};

  function newElementID() {
    var bytes = new Uint8Array(16);
    window.crypto.getRandomValues(bytes);
    bytes[6] = (bytes[6] & 0x0f) | 0x40;
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    var hex = Array.prototype.map.call(bytes, function (b) { return (b + 0x100).toString(16).slice(1); }).join('');
    return [hex.slice(0, 8), hex.slice(8, 12), hex.slice(12, 16), hex.slice(16, 20), hex.slice(20)].join('-').toUpperCase();
  }

  // Rendered with a box, as jQuery's ':visible' has it.
  function shown(element) {
    return !!(element.offsetWidth || element.offsetHeight || element.getClientRects().length);
  }

  // The text compared when asking cheaply whether an element may match: no
  // whitespace, one case. The case fold covers what style sheets do to a text's
  // case (its rendered text is what a find compares).
  function squeezed(text) {
    return String(text).toLowerCase().toUpperCase().replace(/\s+/g, '');
  }

  // Whether a text node holding `piece` (squeezed) can be part of an element text
  // that equals (`whole`) or contains `wanted` (squeezed, not empty).
  function mayBePart(piece, wanted, whole) {
    if (whole) return wanted.indexOf(piece) >= 0;
    if (piece.indexOf(wanted) >= 0) return true;
    // The wanted text starts within this node and goes on past it.
    for (var at = piece.indexOf(wanted.charAt(0)); at >= 0; at = piece.indexOf(wanted.charAt(0), at + 1)) {
      if (wanted.indexOf(piece.slice(at)) === 0) return true;
    }
    return false;
  }

  // A test of a text node's raw data, far cheaper than squeezing it, that passes
  // every node mayBePart would take (and few others), so that most nodes are never
  // squeezed. Folding is only exact for ASCII, so data with any other character
  // passes; for ASCII data the test is mayBePart's own rule written as a pattern:
  // the data is made of the wanted text's characters (`whole`), or holds the wanted
  // text, or ends with a beginning of it, whitespace allowed anywhere. Null when
  // the wanted text is too long for a pattern.
  function rawDataTest(wanted, whole) {
    if (wanted.length > 64) return null;
    var units = wanted.split('').map(function (c) { return '\\u' + (c.charCodeAt(0) + 0x10000).toString(16).slice(1); });
    var source;
    if (whole) {
      var any = '[' + units.join('') + ']';
      source = '^\\s*' + any + '(?:\\s|' + any + ')*$';
    } else {
      var beginning = '';
      for (var i = units.length - 1; i >= 0; i--) beginning = units[i] + (beginning ? '(?:\\s*' + beginning + ')?' : '');
      source = units.join('\\s*') + '|' + beginning + '\\s*$';
    }
    var pattern = new RegExp(source, 'i');
    var other = /[^\x00-\x7f]/;
    return function (data) { return other.test(data) || pattern.test(data); };
  }

  // What a find by text or partial text looks for: the value squeezed, whether the
  // whole text must be it, and the raw-data test. Null when the value gives nothing
  // to look for.
  function textQuery(type, value) {
    if (value === null || (type !== 'text' && type !== 'partialtext')) return null;
    var wanted = squeezed(value);
    if (wanted === '') return null;
    var whole = type === 'text';
    return { wanted: wanted, whole: whole, mayHold: rawDataTest(wanted, whole) };
  }

  // Whether a text node holding `data` can be part of a match.
  function canTakePart(data, query) {
    if (query.mayHold && !query.mayHold(data)) return false;
    var piece = squeezed(data);
    return piece !== '' && mayBePart(piece, query.wanted, query.whole);
  }

  // The elements below `root` whose text may be the wanted text (whole) or contain
  // it, in document order: fields (whose text is their value) and the elements
  // around a text node that can be part of the match. A rendered text is made of its
  // text nodes, so no element outside these can match; the caller compares the real
  // text.
  function textCandidates(root, query) {
    var seen = new Set();
    var found = [];
    var walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
    for (var node = walker.nextNode(); node; node = walker.nextNode()) {
      if (!canTakePart(node.data, query)) continue;
      for (var e = node.parentElement; e && e !== root && !seen.has(e); e = e.parentElement) {
        seen.add(e);
        found.push(e);
      }
    }
    Array.prototype.forEach.call(root.querySelectorAll('input,textarea,select'), function (field) {
      if (!seen.has(field)) found.push(field);
    });
    return found.sort(function (a, b) {
      return a === b ? 0 : a.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1;
    });
  }

  // Whether `parent`, the element of a text node whose squeezed text is `piece`,
  // certainly shows that text, so that every element around it shows it too: the
  // parent is rendered and visible, and its own rendered text holds the piece. Only
  // small elements are asked (reading a rendered text costs), and never form
  // controls or elements whose content is not the page's text. Unsure cases answer
  // no.
  function showsPiece(parent, piece) {
    if (parent.namespaceURI !== 'http://www.w3.org/1999/xhtml') return false;
    if (/^(TEXTAREA|SELECT|OPTION|OPTGROUP|BUTTON|SCRIPT|STYLE|NOSCRIPT|TEMPLATE|TITLE)$/.test(parent.tagName)) return false;
    if (parent.textContent.length > 1024) return false;
    if (typeof parent.checkVisibility !== 'function' ||
        !parent.checkVisibility({ contentVisibilityAuto: true, visibilityProperty: true })) {
      return false;
    }
    return squeezed(parent.innerText).indexOf(piece) >= 0;
  }

  // For a whole-text find: whether `element` shows text that cannot be part of the
  // wanted text, so that its own text cannot be it. Telling so is far cheaper than
  // reading a large element's text (the list around a matching link, the body).
  // Only evidence counts, and only a few such text nodes are asked about: without
  // an answer the caller reads the element's text.
  function showsOtherText(element, query) {
    var walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
    var asked = 0;
    for (var node = walker.nextNode(); node && asked < 8; node = walker.nextNode()) {
      if (/^\s*$/.test(node.data) || canTakePart(node.data, query)) continue;
      var parent = node.parentElement;
      if (!parent || parent === element) continue;
      ++asked;
      if (showsPiece(parent, squeezed(node.data))) return true;
    }
    return false;
  }

  // The text is compared before visibility is asked: most elements fail on the text.
  function matches(element, type, value) {
    if (type === '') return shown(element);
    if (value === null) return false;
    var text = ZarvoPage.textOf(element);
    if (type === 'text') return text === value && shown(element);
    if (type === 'partialtext') {
      return value !== '' && text.toLowerCase().indexOf(value.toLowerCase()) >= 0 && shown(element);
    }
    return false;
  }

  // Finds below `root` and answers the new element IDs; the earlier IDs are gone.
  function find(root, tag, type, value) {
    elements = {};
    if (tag === null || type === null) return '';
    type = type.toLowerCase();
    var candidates;
    if (type === 'xpath') {
      if (value === null) return '';
      candidates = zarvoElementsByXPath(value, root).filter(function (e) { return root.contains(e) && e !== root && shown(e); });
    } else {
      var query = textQuery(type, value);
      var pool = query ? textCandidates(root, query) : root.getElementsByTagName('*');
      candidates = Array.prototype.filter.call(pool, function (e) {
        if (query && query.whole && !ZarvoPage.isField(e) && showsOtherText(e, query)) return false;
        return matches(e, type, value);
      });
    }
    var reply = [];
    candidates.forEach(function (element) {
      if (tag !== '' && element.tagName.toLowerCase() !== tag.toLowerCase()) return;
      var id = newElementID();
      elements[id] = element;
      reply.push({ elementID: id });
    });
    return reply.length ? JSON.stringify(reply) : '';
  }

  function element(id) {
    var found = id !== null && Object.prototype.hasOwnProperty.call(elements, id) ? elements[id] : null;
    return found && found.isConnected ? found : null;
  }

  return { find: find, element: element };
})();
window.ZarvoPlayer = ZarvoPlayer;

function findElements(tag, type, value) {
  return ZarvoPlayer.find(document.documentElement, tag, type, value);
}

function findElementsInsideElement(tag, type, value, parentID) {
  var parent = ZarvoPlayer.element(parentID);
  if (!parent) {
    ZarvoPlayer.find(document.createElement('div'), null, null, null);  // the earlier IDs are gone all the same
    return '';
  }
  return ZarvoPlayer.find(parent, tag, type, value);
}

// A click as a finger's: pressed, released, clicked, on the element scrolled into view.
function performClick(id) {
  var element = ZarvoPlayer.element(id);
  if (!element) return '';
  element.scrollIntoView({ block: 'center', inline: 'center' });
  var init = { bubbles: true, cancelable: true, composed: true, view: window, button: 0 };
  element.dispatchEvent(new MouseEvent('mousedown', init));
  if (typeof element.focus === 'function') element.focus();
  element.dispatchEvent(new MouseEvent('mouseup', init));
  element.click();
  return '';
}

// Replaces the element's text with `text`, typed key by key.
function performTypeText(id, text) {
  var element = ZarvoPlayer.element(id);
  if (!element) return '';
  element.scrollIntoView({ block: 'center', inline: 'center' });
  zarvoSendKeys(element, text === null ? '' : text, true);
  return '';
}

function zarvo_getText(id) {
  var element = ZarvoPlayer.element(id);
  return element ? JSON.stringify([{ output: ZarvoPage.textOf(element) }]) : '';
}

// 'DONE' once every injected script is in the page.
function IsInjectionDone() {
  var parts = [typeof IsJqueryLoaded, typeof jQuery, typeof ZarvoRange, typeof zarvoSendKeys,
    typeof zarvoXPathOf, typeof startRecording, typeof findElements];
  for (var i = 0; i < parts.length; i++) if (parts[i] !== 'function') return 'NO';
  return 'DONE';
}
