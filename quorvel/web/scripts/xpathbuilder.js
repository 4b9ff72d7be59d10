// Page xpaths: an element's absolute position path (each step the tag and the
// element's position among its same-tag siblings, from 1), and the elements an
// xpath selects.
function zarvoXPathOf(element) {
  'use strict';
  var steps = [];
  for (var node = element; node && node.nodeType === Node.ELEMENT_NODE; node = node.parentNode) {
    var name = node.localName;
    var position = 1;
    for (var sibling = node.previousElementSibling; sibling; sibling = sibling.previousElementSibling) {
      if (sibling.localName === name) position++;
    }
    // Elements outside the HTML namespace (svg) are named through name().
    var step = node.namespaceURI === 'http://www.w3.org/1999/xhtml' ? name : "*[name()='" + name + "']";
    steps.unshift(step + '[' + position + ']');
  }
  return '/' + steps.join('/');
}

// The elements `xpath` selects, in document order, evaluated from `context` (the
// document when absent); none for an xpath the page cannot evaluate.
function zarvoElementsByXPath(xpath, context) {
  'use strict';
  var found = [];
  try {
    var result = document.evaluate(xpath, context || document, null, XPathResult.ORDERED_NODE_SNAPSHOT_TYPE, null);
    for (var i = 0; i < result.snapshotLength; i++) {
      var node = result.snapshotItem(i);
      if (node.nodeType === Node.ELEMENT_NODE) found.push(node);
    }
  } catch (e) { /* not an xpath */ }
  return found;
}
