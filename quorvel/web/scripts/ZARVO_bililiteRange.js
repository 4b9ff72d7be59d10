// Text ranges of editable elements: the text of an input, a text area or an
// editable region, its selection, and replacing the selection with typed text the
// way the browser's own editing would (caret after the insertion).
var ZarvoRange = (function () {
  'use strict';

  function isField(element) {
    return element.tagName === 'INPUT' || element.tagName === 'TEXTAREA';
  }

  // The field's selection, or null for input types without a selection API
  // (email, number).
  function fieldSelection(element) {
    try {
      if (typeof element.selectionStart === 'number') {
        return [element.selectionStart, element.selectionEnd];
      }
    } catch (e) { /* no selection on this type */ }
    return null;
  }

  function Range(element) {
    this.element = element;
    // The selection this range keeps itself where the field has none to keep.
    this.kept = null;
  }

  function clamp(bounds, length) {
    return [Math.min(bounds[0], length), Math.min(bounds[1], length)];
  }

  Range.prototype.text = function () {
    return isField(this.element) ? this.element.value : this.element.textContent;
  };

  // [start, end] of the selection within text().
  Range.prototype.bounds = function () {
    if (isField(this.element)) {
      var length = this.element.value.length;
      return fieldSelection(this.element) || clamp(this.kept || [length, length], length);
    }
    var selection = window.getSelection();
    if (!selection || selection.rangeCount === 0 || !this.element.contains(selection.anchorNode)) {
      var end = this.text().length;
      return [end, end];
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
      select(this, 0, this.element.value.length);
      return this;
    }
    var range = document.createRange();
    range.selectNodeContents(this.element);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    return this;
  };

  function select(range, start, end) {
    try {
      range.element.setSelectionRange(start, end);
      range.kept = null;
    } catch (e) {
      range.kept = [start, end];  // no selection API on this type
    }
  }

  function placeCaret(range, offset) {
    var element = range.element;
    if (isField(element)) {
      select(range, offset, offset);
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
