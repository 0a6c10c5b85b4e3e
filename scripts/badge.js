// Badge: the unread count the page shows on its inbox navigation link and at
// the start of the document title. Runs as an async function body in the
// page's own world, with no arguments.
//
// Result: { badge, titleCount, hasLink }. `badge` is -1 without an inbox
// link and 0 when the link shows no count; `titleCount` is -1 unless the
// title starts with a number in parentheses.

const link = document.querySelector('a[href="/direct/inbox/"], a[href^="/direct/inbox"]');
let badge = -1;
if (link) {
  // A count spelled out in an accessibility label wins over a shown number.
  const labels = [];
  for (const el of link.querySelectorAll("[aria-label]")) labels.push(el.getAttribute("aria-label") || "");
  labels.push(link.getAttribute("aria-label") || "");
  let count = null;
  for (const label of labels) {
    const m = /(\d+)\s+new notification/i.exec(label);
    if (m) {
      count = parseInt(m[1], 10);
      break;
    }
  }
  if (count === null) {
    for (const el of link.querySelectorAll("span, div")) {
      const shown = (el.textContent || "").trim();
      if (/^\d{1,3}$/.test(shown)) {
        count = parseInt(shown, 10);
        break;
      }
    }
  }
  badge = count === null ? 0 : count;
}

const title = /^\((\d+)\)/.exec(document.title || "");
return { badge, titleCount: title ? parseInt(title[1], 10) : -1, hasLink: !!link };
