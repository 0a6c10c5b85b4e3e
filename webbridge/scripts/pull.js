// WebBridge pull: a function body with the arguments selector and property.
// Answers that property of the first element matching the selector, or null.
var element = document.querySelector(selector);
return element ? element[property] : null;
