// Typing into a page element as the keyboard would: for each character, key down,
// key press, the text inserted at the caret, an input event and key up; a change
// event at the end. The text is typed literally: no character or sequence has a
// meaning of its own, except that a line break is the return key.
var zarvoSendKeys = (function () {
  'use strict';

  function keyEvent(type, key) {
    return new KeyboardEvent(type, { key: key, bubbles: true, cancelable: true, composed: true });
  }

  function typeCharacter(element, range, character) {
    var key = character === '\n' ? 'Enter' : character;
    var proceed = element.dispatchEvent(keyEvent('keydown', key));
    if (proceed) proceed = element.dispatchEvent(keyEvent('keypress', key));
    if (proceed && (character !== '\n' || element.tagName !== 'INPUT')) {
      range.insert(character);
      element.dispatchEvent(new InputEvent('input', {
        bubbles: true, composed: true, inputType: character === '\n' ? 'insertLineBreak' : 'insertText',
        data: character === '\n' ? null : character
      }));
    }
    element.dispatchEvent(keyEvent('keyup', key));
  }

  // Types `text` into `element` (an input, a text area or an editable region),
  // replacing what it held when `replace` is true.
  return function (element, text, replace) {
    if (typeof element.focus === 'function') element.focus();
    var range = ZarvoRange(element);
    if (replace) {
      range.selectAll();
      if (range.text() !== '') {
        range.deleteBackward();
        element.dispatchEvent(new InputEvent('input', { bubbles: true, composed: true, inputType: 'deleteContentBackward' }));
      }
    }
    // Characters, not UTF-16 units: a character outside the basic plane stays whole.
    var characters = Array.from(String(text));
    for (var i = 0; i < characters.length; i++) typeCharacter(element, range, characters[i]);
    element.dispatchEvent(new Event('change', { bubbles: true }));
  };
})();
