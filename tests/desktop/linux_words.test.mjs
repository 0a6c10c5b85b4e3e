// No text Corvid shows says "Mac": every string the built program carries
// (so also texts added later, wherever in the code) and the installed
// desktop entry and metadata. The one exception names a screen of the
// phone app: "설정 › Mac으로 알림 받기".
//   node linux_words.test.mjs CORVID_BINARY FILE...
import assert from "node:assert/strict";
import fs from "node:fs";
import { test } from "node:test";

const [binary, ...textFiles] = process.argv.slice(2);
const PHONE_SCREEN = "설정 › Mac으로 알림 받기";
// "Mac" as a word: not inside a longer Latin word (such as "Machine").
const MAC = /(?<![A-Za-z])Mac(?![A-Za-z])/;

// The NUL-separated runs of valid UTF-8 in a file that contain `needle`.
function stringsWith(file, needle) {
  const data = fs.readFileSync(file);
  const found = [];
  for (let at = data.indexOf(needle); at !== -1; at = data.indexOf(needle, at + 1)) {
    let start = data.lastIndexOf(0, at) + 1;
    let end = data.indexOf(0, at);
    if (end === -1) end = data.length;
    const text = data.subarray(start, end).toString("utf8");
    if (!text.includes("\uFFFD")) found.push(text);
  }
  return [...new Set(found)];
}

const offending = (texts) => texts.filter((t) => MAC.test(t.replaceAll(PHONE_SCREEN, "")));

test("the program's texts say 컴퓨터 or PC, never Mac, except for the phone's own screen", () => {
  const texts = stringsWith(binary, Buffer.from("Mac"));
  assert.deepEqual(offending(texts), []);
  // The scan does see the program's texts: the phone's screen is there.
  assert.ok(texts.some((t) => t.includes(PHONE_SCREEN)), "the phone screen's name is not in the binary");
  assert.ok(stringsWith(binary, Buffer.from("이 컴퓨터")).length > 0);
});

test("the desktop entry and the metadata do not say Mac", () => {
  for (const file of textFiles) {
    assert.deepEqual(offending(fs.readFileSync(file, "utf8").split("\n")), [], file);
  }
});
