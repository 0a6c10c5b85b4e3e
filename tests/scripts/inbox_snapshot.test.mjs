import assert from "node:assert/strict";
import { describe, test } from "node:test";

import {
  FALLBACK, INBOX_LINK, Records, SELECTOR, element, fakePage, leaf, pageWith, rowElement, runScript, snapshot,
} from "./harness.mjs";

const CONN = "__IGDInboxTray_threads_connection(folder:0)";
const byKey = (result) => Object.fromEntries(result.threads.map((t) => [t.key, t]));
const keys = (result) => result.threads.map((t) => t.key);

// A store with one mailbox connection over the given threads.
function inbox(build) {
  const r = new Records();
  r.mailbox({ connections: { [CONN]: build(r) } });
  return r.env();
}
// The first row of a one-thread inbox.
const row = async (opts, args) => (await snapshot(pageWith(inbox((r) => [r.thread("a", opts)])), args)).threads[0];

describe("finding the environment", () => {
  const env = inbox((r) => [r.thread("a", { last_activity_timestamp_ms: 5 })]);

  test("walks the fibers of the first rows and caches what it found", async () => {
    const page = pageWith(env);
    assert.equal((await snapshot(page)).source, "connection");
    assert.equal(page.window.__halvyRelayEnv, env);
    page.matches[SELECTOR] = [];
    assert.equal((await snapshot(page)).threads.length, 1, "the cached environment serves without rows");
    // Also held as the `environment` member of a hook state.
    assert.equal((await snapshot(fakePage({ [SELECTOR]: [rowElement({ environment: env })] }))).threads[0].key, "ka");
  });

  test("tries the first 20 fallback elements when no row matches", async () => {
    const dead = () => rowElement({ unrelated: true });
    const at = (i) => fakePage({ [FALLBACK]: [...Array.from({ length: i }, dead), rowElement(env)] });
    assert.equal((await snapshot(at(19))).source, "connection");
    assert.equal(await snapshot(at(20)), null);
    assert.equal(await snapshot(fakePage({ [SELECTOR]: [leaf("row")] }), { selector: undefined }), null);
  });

  test("errors of the store after the environment was accepted reach the caller", async () => {
    const source = { getRecordIDs: () => ["x"], get() { throw new Error("boom"); } };
    await assert.rejects(snapshot(pageWith({ getStore: () => ({ getSource: () => source }), execute() {} })), /boom/);
  });
});

describe("list order", () => {
  test("the longest connection leads; later ones append what it lacks", async () => {
    const r = new Records();
    const t = Array.from({ length: 45 }, (_, i) => r.thread("t" + i, { last_activity_timestamp_ms: 1000 - i }));
    r.mailbox({
      connections: { "__A_connection(x:12345)": t.slice(0, 30).concat(t[44]), "__B_connection(y)": t.slice(5, 45) },
      hasNext: { "__A_connection(x:12345)": false, "__B_connection(y)": true },
    });
    const res = await snapshot(pageWith(r.env()));
    assert.deepEqual(keys(res), [...t.slice(5, 45), ...t.slice(0, 5)].map((x) => x.thread_key));
    assert.deepEqual([res.hasNext, res.connKey], [true, "__B_connection(y)"]);
    assert.deepEqual([byKey(res).kt10.connMask, byKey(res).kt0.connMask, byKey(res).kt40.connMask], [3, 2, 1]);
  });

  test("pins come first and a pinned thread of the connection is listed once", async () => {
    const r = new Records();
    const [a, b, c] = ["a", "b", "c"].map((n) => r.thread(n));
    r.add({ __id: "item:c", __typename: "IGDInboxItem", as_ig_direct_thread: { __ref: c.__id } });
    r.mailbox({
      connections: { [CONN]: [a, b, r.r["item:c"]] },
      pins: [{ __typename: "Pin", thread: { __ref: b.__id } }, { __typename: "Pin", node: { __ref: b.__id } }],
    });
    const res = await snapshot(pageWith(r.env()));
    assert.deepEqual(keys(res), ["kb", "ka", "kc"]);
    assert.equal(res.pinnedCount, 2);
  });

  test("threads without key are listed by their fbid; edges without thread are only counted", async () => {
    const r = new Records();
    r.add({ __id: "s", __typename: "IGDInboxSuggestion" });
    const none = { thread_key: null, thread_fbid: null, thread_id: null, id: null };
    r.mailbox({ connections: { [CONN]: [r.thread("a", { thread_key: "" }), r.thread("b", none), r.r.s, null] } });
    const res = await snapshot(pageWith(r.env()));
    assert.deepEqual(res.threads.map((t) => [t.key, t.id]), [["", "fa"]]);
    assert.deepEqual([res.noKeyCount, res.total, res.nodeInfo], [1, 1, "IGDInboxSuggestion:1,null:1"]);
  });

  test("mailboxes without any list give the pending result", async () => {
    const r = new Records();
    r.mailbox({ connections: { "__X_connection(PENDING)": [r.thread("a")] } });
    assert.deepEqual(await snapshot(pageWith(r.env())), {
      threads: [], total: 0, hasNext: null, source: "pending", connKey: "", viewerUsername: "",
    });
  });

  test("without mailboxes all inbox threads are listed, pinned first, newest first", async () => {
    const r = new Records();
    r.thread("old", { last_activity_timestamp_ms: 1 });
    r.thread("new", { last_activity_timestamp_ms: 9 });
    r.thread("pin", { last_activity_timestamp_ms: 2, is_pin: true });
    r.thread("spam", { last_activity_timestamp_ms: 50, system_folder: "PENDING" });
    const res = await snapshot(pageWith(r.env()));
    assert.equal(res.source, "all");
    assert.deepEqual(keys(res), ["kpin", "knew", "kold"]);
  });

  test("rows without any time take the sort time of the row above; limit cuts rows, not the total", async () => {
    const env = inbox((r) => [r.thread("a"), r.thread("b", { last_activity_timestamp_ms: 70 }), r.thread("c")]);
    const res = await snapshot(pageWith(env));
    assert.deepEqual(res.threads.map((t) => t.sortTs), [9007199254740991, 70, 70]);
    const cut = await snapshot(pageWith(env), { limit: 2 });
    assert.deepEqual([cut.threads.length, cut.total], [2, 3]);
  });
});

describe("preview message", () => {
  const reacted = (log, actor) => ({ id: "base", ts: 1, reactions: [{ log, ts: 5, actor, emoji: "❤" }] });

  test("my own reaction log gives way to the newest other message", async () => {
    const t = await row({ messages: [reacted("log", "me"), { id: "log", ts: 5, from: "me", text: "Liked a message" }] });
    assert.deepEqual([t.lastId, t.previewKind, t.skipped, t.reactionByMe], ["base", "after-my-reaction", true, true]);
  });

  test("a reaction log from the other side stays the preview", async () => {
    const t = await row({ messages: [reacted("log", "other"), { id: "log", ts: 5, text: "Reacted ❤ to your message" }] });
    assert.deepEqual([t.lastId, t.previewKind, t.reactionEmoji, t.reactionTs], ["log", "reaction", "❤", 5]);
  });

  test("my unavailable and their empty messages are passed over while others can be shown", async () => {
    const gone = { id: "gone", ts: 9, from: "me", snippet: "Message unavailable" };
    const t = await row({ messages: [gone, { id: "empty", ts: 8, text: "  " }, { id: "shown", ts: 7, text: "hi\n  there" }] });
    assert.deepEqual([t.lastId, t.snippet, t.skipped], ["shown", "hi there", true]);
    const only = await row({ messages: [{ ...gone, tomb: "deleted" }, { id: "empty", ts: 8, text: "" }] });
    assert.equal(only.lastId, "gone");
  });

  test("a message from the viewer's pk counts as mine", async () => {
    const t = await row({ messages: [{ id: "m", ts: 3, from: "v-pk" }] });
    assert.deepEqual([t.lastMine, t.unread], [true, false]);
  });

  test("messages under several message connections are read once each", async () => {
    const r = new Records();
    const t = r.thread("a", { messages: [{ id: "m1", ts: 1 }, { id: "m2", ts: 2 }] });
    t["slide_messages(first:5)"] = r.add({ __id: "sm5", edges: r.list([{ __id: "e", node: { __ref: "message:m2" } }]) });
    r.mailbox({ connections: { [CONN]: [t] } });
    assert.equal((await snapshot(pageWith(r.env()))).threads[0].fetchedMessages, 2);
  });

  test("title and user name: the thread title, else the members' names", async () => {
    const res = byKey(await snapshot(pageWith(inbox((r) => [
      r.thread("one", { users: ["solo"] }),
      r.thread("grp", { is_group: true, users: ["x", "y", "z"], thread_title: "" }),
      r.thread("named", { thread_title: "Team", users: ["p", "q"] }),
    ]))));
    assert.deepEqual([res.kone.title, res.kone.username, res.kgrp.title, res.kgrp.username], ["solo", "solo", "x, y, z", ""]);
    assert.equal(res.knamed.title, "Team");
  });
});

describe("unread state", () => {
  test("only countable messages from others newer than the watermark are counted", async () => {
    const t = await row({
      watermark: 10,
      messages: [
        { id: "admin", ts: 20, type: "ADMIN_TEXT" }, { id: "log", ts: 19, type: "ACTION_LOG_" },
        { id: "xmat", ts: 18, type: "SHARE_XMAT" }, { id: "tomb", ts: 17, tomb: "x" },
        { id: "mine", ts: 16, from: "me" }, { id: "old", ts: 10 },
      ],
    });
    assert.deepEqual([t.unread, t.unreadCount, t.watermark], [true, 0, 10]);
    const counted = await row({ watermark: 10, messages: [{ id: "a", ts: 11, from: "x" }, { id: "b", ts: 12, from: "y" }] });
    assert.deepEqual([counted.unreadCount, counted.unreadSenders], [2, 2]);
  });

  test("without the viewer's receipt everything from others is unread; without its watermark nothing", async () => {
    const noReceipt = await row({ receipt: false, messages: [{ id: "a", ts: 5 }] });
    assert.deepEqual([noReceipt.watermark, noReceipt.hasReceipt, noReceipt.unreadCount], [0, false, 1]);
    const noWatermark = await row({ watermark: null, messages: [{ id: "a", ts: 5 }] });
    assert.deepEqual([noWatermark.unread, noWatermark.unreadCount], [false, 0]);
    assert.equal((await row({ marked_as_unread: true })).unread, true);
  });

  test("resolver values are used unless missing, failed or of the wrong type", async () => {
    const r = new Records();
    const t = r.thread("a");
    t["$r:client__unread_messages_count"] = r.add({ __id: "r1", __resolverValue: 4 });
    t["$r:client__is_unread"] = r.add({ __id: "r2", __resolverValue: true, __resolverError: new Error("x") });
    t["$r:thread_title_fallback"] = r.add({ __id: "r3", __resolverValue: 7 });
    r.mailbox({ connections: { [CONN]: [t] } });
    const row0 = (await snapshot(pageWith(r.env()))).threads[0];
    assert.deepEqual([row0.resolvedUnreadCount, row0.resolvedIsUnread, row0.resolvedTitle], [4, null, ""]);
  });

  test("the viewer fbid alone never matches an unknown fbid", async () => {
    // A viewer record without an fbid must not claim receipts or reactions that carry no participant.
    const r = new Records();
    r.r.viewer.interop_messaging_user_fbid = undefined;
    const t = r.thread("a", { messages: [{ id: "m", ts: 5, reactions: [{ ts: 6, emoji: "x" }] }] });
    r.r[t.slide_read_receipts.__refs[1]].participant_fbid = undefined;
    r.mailbox({ connections: { [CONN]: [t] } });
    const row0 = (await snapshot(pageWith(r.env()))).threads[0];
    assert.deepEqual([row0.hasReceipt, row0.reactionByMe, row0.unread], [false, false, true]);
  });
});

describe("recent entries", () => {
  const messages = Array.from({ length: 14 }, (_, i) => ({ id: "m" + i, ts: 100 - i, from: i === 1 ? "me" : "o" }));

  test("the newest displayable messages of others, at most 10", async () => {
    const t = await row({ messages }, { recent: 25 });
    assert.equal(t.recent.length, 10);
    assert.deepEqual(t.recent.slice(0, 2), [{ id: "m0", ts: 100, snippet: "text m0" }, { id: "m2", ts: 98, snippet: "text m2" }]);
    assert.equal((await row({ messages }, { recent: 2 })).recent.length, 2);
    for (const recent of [0, undefined, "5", -1]) assert.equal("recent" in (await row({ messages }, { recent })), false);
  });
});

describe("badge", () => {
  const badge = (link, title = "") => runScript("badge", {}, fakePage(link ? { [INBOX_LINK]: [link] } : {}, "/", title));
  const a = (attrs, ...children) => element("a", attrs, ...children);

  test("a count in an accessibility label wins over a shown number of one to three digits", async () => {
    const labelled = a({}, element("div", { "aria-label": "3 new notifications" }), element("span", {}, "9"));
    assert.deepEqual(await badge(labelled, "(5) Instagram"), { badge: 3, titleCount: 5, hasLink: true });
    assert.equal((await badge(a({ "aria-label": "Direct - 7 New Notifications" }, element("span", {}, "2")))).badge, 7);
    assert.equal((await badge(a({}, element("div", {}, element("span", {}, " 12 "))))).badge, 12);
    assert.equal((await badge(a({}, element("span", {}, "1234")))).badge, 0);
  });

  test("the title counts only as a leading number in parentheses; no link gives -1", async () => {
    assert.deepEqual(await badge(null, "Instagram (5)"), { badge: -1, titleCount: -1, hasLink: false });
    assert.equal((await badge(null, "(12) Chats")).titleCount, 12);
  });
});
