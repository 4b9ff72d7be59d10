// Injected first: tells the agent whether the page brings its own jQuery, so that
// jquery.js is injected only into pages without it.
function IsJqueryLoaded() {
  return typeof window.jQuery === 'function' && typeof window.jQuery.fn === 'object' ? 'True' : 'False';
}
