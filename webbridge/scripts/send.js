// WebBridge send: a function body with the arguments name and payload, run
// in the page's own world. Hands them to the page's listeners.
window.dispatchEvent(new CustomEvent("webbridge", { detail: { name: name, payload: payload } }));
