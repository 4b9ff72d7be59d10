// Text ranges of editable elements: the text of an input, a text area or an
// editable region, its selection, and replacing the selection with typed text the
// way the browser's own editing would (caret after the insertion).
var ZarvoRange = (function () {
  'use strict';

  function isField(element) {
    return element.tagName === 'INPUT' || element.tagName === 'TEXTAREA';
  }

  // Some input types (email, number) have no selection API: the caret is at the end.
  function fieldSelection(element) {
    try {
      if (typeof element.selectionStart === 'number') {
        return [element.selectionStart, element.selectionEnd];
      }
    } catch (e) { /* no selection on this type */ }
    var length = element.value.length;
    return [length, length];
  }

  function Range(element) {
    this.element = element;
  }

  Range.prototype.text = function () {
    return isField(this.element) ? this.element.value : this.element.textContent;
  };

  // [start, end] of the selection within text().
  Range.prototype.bounds = function () {
    if (isField(this.element)) return fieldSelection(this.element);
    var selection = window.getSelection();
    if (!selection || selection.rangeCount === 0 || !this.element.contains(selection.anchorNode)) {
      var length = this.text().length;
      return [length, length];
    }
    var range = selection.getRangeAt(0);
    var before = document.createRange();
    before.selectNodeContents(this.element);
    before.setEnd(range.startContainer, range.startOffset);
    var start = before.toString().length;
    return [start, start + range.toString().length];
  };

  Range.prototype.selectAll = function () {
    if (isField(this.element)) {
      try { this.element.setSelectionRange(0, this.element.value.length); } catch (e) { /* no selection API */ }
      return this;
    }
    var range = document.createRange();
    range.selectNodeContents(this.element);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    return this;
  };

  function placeCaret(range, offset) {
    var element = range.element;
    if (isField(element)) {
      try { element.setSelectionRange(offset, offset); } catch (e) { /* no selection API */ }
      return;
    }
    var node = element.firstChild;
    var selection = window.getSelection();
    var caret = document.createRange();
    if (node && node.nodeType === Node.TEXT_NODE) {
      caret.setStart(node, Math.min(offset, node.length));
    } else {
      caret.selectNodeContents(element);
      caret.collapse(false);
    }
    selection.removeAllRanges();
    selection.addRange(caret);
  }

  // Replaces the selection with `text`; the caret ends after it.
  Range.prototype.insert = function (text) {
    var bounds = this.bounds();
    var current = this.text();
    var next = current.slice(0, bounds[0]) + text + current.slice(bounds[1]);
    if (isField(this.element)) {
      this.element.value = next;
    } else {
      this.element.textContent = next;
    }
    placeCaret(this, bounds[0] + text.length);
    return this;
  };

  // The delete key: the selection, or the character before the caret.
  Range.prototype.deleteBackward = function () {
    var bounds = this.bounds();
    if (bounds[0] === bounds[1]) {
      if (bounds[0] === 0) return this;
      bounds = [bounds[0] - 1, bounds[1]];
    }
    var current = this.text();
    var next = current.slice(0, bounds[0]) + current.slice(bounds[1]);
    if (isField(this.element)) {
      this.element.value = next;
    } else {
      this.element.textContent = next;
    }
    placeCaret(this, bounds[0]);
    return this;
  };

  return function (element) {
    return new Range(element);
  };
})();
