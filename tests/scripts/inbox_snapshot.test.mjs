import assert from "node:assert/strict";
import { describe, test } from "node:test";

import {
  FALLBACK, Records, SELECTOR, TAB_ELEMENTS, VIEWER_FBID, environment, fakePage, leaf, pageWith, rowElement, snapshot,
} from "./harness.mjs";

const CONN = "__IGDInboxTray_threads_connection(folder:0)";
const byKey = (result) => Object.fromEntries(result.threads.map((t) => [t.key, t]));
const keys = (result) => result.threads.map((t) => t.key);

// A store with one mailbox connection over the given threads.
function inbox(build) {
  const r = new Records();
  const threads = build(r);
  r.mailbox({ connections: { [CONN]: threads } });
  return r.env();
}

describe("finding the environment", () => {
  const env = inbox((r) => [r.thread("a", { last_activity_timestamp_ms: 5 })]);

  test("walks the fibers of the first rows and caches what it found", async () => {
    const page = pageWith(env);
    assert.equal((await snapshot(page)).source, "connection");
    assert.equal(page.window.__halvyRelayEnv, env);
    page.matches[SELECTOR] = [];
    assert.equal((await snapshot(page)).threads.length, 1, "the cached environment serves without rows");
  });

  test("reads an environment held as the `environment` member of a hook state", async () => {
    const page = fakePage({ [SELECTOR]: [rowElement({ environment: env })] });
    assert.equal((await snapshot(page)).threads[0].key, "ka");
  });

  test("discards a cached environment whose store is empty and searches again", async () => {
    const page = pageWith(env);
    const emptied = environment({});
    emptied.getStore().getSource().clear();
    page.window.__halvyRelayEnv = emptied;
    assert.equal((await snapshot(page)).threads.length, 1);
    assert.equal(page.window.__halvyRelayEnv, env);
  });

  test("tries the first 20 fallback elements when no row matches", async () => {
    const dead = () => rowElement({ unrelated: true });
    const at = (i) => fakePage({ [FALLBACK]: [...Array.from({ length: i }, dead), rowElement(env)] });
    assert.equal((await snapshot(at(19))).source, "connection");
    assert.equal(await snapshot(at(20)), null);
  });

  test("only the first 3 rows, 400 fibers and 30 hooks are looked at", async () => {
    const rows = (...els) => fakePage({ [SELECTOR]: els });
    const none = () => rowElement(null);
    assert.equal(await snapshot(rows(none(), none(), none(), rowElement(env))), null);
    assert.notEqual(await snapshot(rows(rowElement(env, { depth: 399 }))), null);
    assert.equal(await snapshot(rows(rowElement(env, { depth: 400 }))), null);
    assert.notEqual(await snapshot(rows(rowElement(env, { hook: 29 }))), null);
    assert.equal(await snapshot(rows(rowElement(env, { hook: 30 }))), null);
  });

  test("a page without React content gives null", async () => {
    const page = fakePage({ [SELECTOR]: [leaf("row")], [FALLBACK]: [leaf("x")] });
    assert.equal(await snapshot(page), null);
    assert.equal(await snapshot(fakePage(), { selector: undefined }), null);
  });

  test("errors of the store after the environment was accepted reach the caller", async () => {
    const broken = { getStore: () => ({ getSource: () => ({ getRecordIDs: () => ["x"], get() { throw new Error("boom"); } }) }), execute() {} };
    await assert.rejects(snapshot(pageWith(broken)), /boom/);
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
    assert.equal(res.hasNext, true);
    assert.equal(res.connKey, "__B_connection(y)");
    assert.equal(byKey(res).kt10.connMask, 3);
    assert.equal(byKey(res).kt0.connMask, 2);
    assert.equal(byKey(res).kt40.connMask, 1);
    assert.equal(res.connInfo, "__B_connection(y) edges 40 new 40 next true | __A_connection(x:N) edges 31 new 5 next false");
  });

  test("pins come first and a pinned thread of the connection is listed once", async () => {
    const r = new Records();
    const [a, b, c] = ["a", "b", "c"].map((n) => r.thread(n));
    const wrapper = r.add({ __id: "item:c", __typename: "IGDInboxItem", as_ig_direct_thread: { __ref: c.__id } });
    r.mailbox({
      connections: { [CONN]: [a, b, r.r["item:c"]] },
      pins: [{ __typename: "Pin", thread: { __ref: b.__id } }, { __typename: "Pin", node: { __ref: b.__id } }],
    });
    assert.ok(wrapper);
    const res = await snapshot(pageWith(r.env()));
    assert.deepEqual(keys(res), ["kb", "ka", "kc"]);
    assert.equal(res.pinnedCount, 2);
    assert.equal(byKey(res).kb.connMask, 1);
  });

  test("a thread without key is listed by its fbid and counted", async () => {
    const env = inbox((r) => [r.thread("a", { thread_key: "" }), r.thread("b", { thread_key: null, thread_fbid: null, thread_id: null, id: null })]);
    const res = await snapshot(pageWith(env));
    assert.deepEqual(res.threads.map((t) => [t.key, t.id]), [["", "fa"]]);
    assert.equal(res.noKeyCount, 1);
  });

  test("edges without a thread are counted by node type", async () => {
    const r = new Records();
    r.add({ __id: "s", __typename: "IGDInboxSuggestion" });
    r.add({ __id: "n" });
    r.mailbox({ connections: { [CONN]: [r.thread("a"), r.r.s, r.r.n, null] } });
    const res = await snapshot(pageWith(r.env()));
    assert.equal(res.nodeInfo, "IGDInboxSuggestion:1,?:1,null:1");
    assert.equal(res.total, 1);
  });

  test("mailboxes without any list give the pending result", async () => {
    const r = new Records();
    r.thread("a");
    r.mailbox({ connections: { "__X_connection(PENDING)": [r.r["thread:a"]] } });
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
    assert.ok(res.threads.every((t) => t.fromConnection === false && t.connMask === 0));
  });

  test("rows without any time take the sort time of the row above", async () => {
    const env = inbox((r) => [r.thread("a"), r.thread("b", { last_activity_timestamp_ms: 70 }), r.thread("c")]);
    const res = await snapshot(pageWith(env));
    assert.deepEqual(res.threads.map((t) => [t.sortTs, t.order]), [[9007199254740991, 0], [70, 1], [70, 2]]);
  });

  test("limit cuts the rows but not the total", async () => {
    const env = inbox((r) => ["a", "b", "c"].map((n) => r.thread(n)));
    const res = await snapshot(pageWith(env), { limit: 2 });
    assert.equal(res.threads.length, 2);
    assert.equal(res.total, 3);
  });

  test("threads in no list are reported as orphans", async () => {
    const r = new Records();
    r.mailbox({ connections: { [CONN]: [r.thread("a")] } });
    r.thread("o1", { folder: 2, is_group: true, last_activity_timestamp_ms: Date.now() - 3 * 86400000 });
    r.thread("o2", { system_folder: null });
    const res = await snapshot(pageWith(r.env()));
    assert.equal(res.orphanInfo, "2 [INBOX/2/g:1 -/-/d:1]");
    assert.deepEqual(res.orphans[0], { fbid: "fo1", keyLen: 3, titleLen: 0, group: true, folder: "2", sys: "INBOX", ageDays: 3 });
    assert.equal(res.orphans[1].ageDays, -1);
  });
});

describe("preview message", () => {
  const row = async (opts) => (await snapshot(pageWith(inbox((r) => [r.thread("a", opts)])))).threads[0];
  const reacted = (log, actor) => ({ id: "base", ts: 1, reactions: [{ log, ts: 5, actor, emoji: "❤" }] });

  test("my own reaction log gives way to the newest other message", async () => {
    const t = await row({ messages: [reacted("log", "me"), { id: "log", ts: 5, from: "me", text: "Liked a message" }] });
    assert.equal(t.lastId, "base");
    assert.equal(t.previewKind, "after-my-reaction");
    assert.equal(t.skipped, true);
    assert.equal(t.reactionByMe, true);
    assert.equal(t.reactionOnMine, false);
  });

  test("a reaction log from the other side stays the preview", async () => {
    const t = await row({ messages: [reacted("log", "other"), { id: "log", ts: 5, text: "Reacted ❤ to your message" }] });
    assert.deepEqual([t.lastId, t.previewKind, t.reactionEmoji, t.reactionTs], ["log", "reaction", "❤", 5]);
    assert.equal(t.reactionKeys, "log_message_id,timestamp_ms,sender_fbid,emoji");
  });

  test("my unavailable and their empty messages are passed over while others can be shown", async () => {
    const t = await row({
      messages: [
        { id: "gone", ts: 9, from: "me", snippet: "Message unavailable" },
        { id: "empty", ts: 8, text: "  " },
        { id: "shown", ts: 7, text: "hello\n  there" },
      ],
    });
    assert.deepEqual([t.lastId, t.snippet, t.skipped], ["shown", "hello there", true]);
    const only = await row({ messages: [{ id: "gone", ts: 9, from: "me", tomb: "deleted" }, { id: "empty", ts: 8, text: "" }] });
    assert.equal(only.lastId, "gone");
  });

  test("a message from the viewer's pk counts as mine", async () => {
    const t = await row({ messages: [{ id: "m", ts: 3, from: "v-pk" }] });
    assert.equal(t.lastMine, true);
    assert.equal(t.unread, false);
    assert.ok(t.signature.startsWith("me|TEXT|XFBIGDSlideMessageText|text|"));
  });

  test("messages under several message connections are read once each", async () => {
    const r = new Records();
    const t = r.thread("a", { messages: [{ id: "m1", ts: 1 }, { id: "m2", ts: 2 }] });
    t["slide_messages(first:5)"] = r.add({ __id: "sm5", edges: r.list([{ __id: "e", node: { __ref: "message:m2" } }]) });
    r.mailbox({ connections: { [CONN]: [t] } });
    const row0 = (await snapshot(pageWith(r.env()))).threads[0];
    assert.equal(row0.fetchedMessages, 2);
    assert.match(row0.msgInfo, /^sm\(first:20\):2:\d+s sm\(first:5\):1:\d+s unreadTypes=TEXT,TEXT$/);
  });
});

describe("unread state", () => {
  const row = async (opts) => (await snapshot(pageWith(inbox((r) => [r.thread("a", opts)])))).threads[0];

  test("only countable messages from others newer than the watermark are counted", async () => {
    const t = await row({
      watermark: 10,
      messages: [
        { id: "admin", ts: 20, type: "ADMIN_TEXT" },
        { id: "log", ts: 19, type: "ACTION_LOG_" },
        { id: "xmat", ts: 18, type: "SHARE_XMAT" },
        { id: "tomb", ts: 17, tomb: "x" },
        { id: "mine", ts: 16, from: "me" },
        { id: "old", ts: 10 },
      ],
    });
    assert.deepEqual([t.unread, t.unreadCount, t.watermark, t.hasReceipt], [true, 0, 10, true]);
    const counted = await row({ watermark: 10, messages: [{ id: "a", ts: 11, from: "x" }, { id: "b", ts: 12, from: "y" }, { id: "c", ts: 13, from: "y" }] });
    assert.deepEqual([counted.unreadCount, counted.unreadSenders], [3, 2]);
  });

  test("without the viewer's receipt every message from others is unread", async () => {
    const t = await row({ receipt: false, messages: [{ id: "a", ts: 5 }] });
    assert.deepEqual([t.watermark, t.hasReceipt, t.unreadCount], [0, false, 1]);
  });

  test("a receipt without a watermark makes nothing unread", async () => {
    const t = await row({ watermark: null, messages: [{ id: "a", ts: 5 }] });
    assert.deepEqual([t.unread, t.unreadCount, t.hasReceipt], [false, 0, true]);
  });

  test("marked as unread", async () => {
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
});

describe("recent entries", () => {
  const messages = Array.from({ length: 14 }, (_, i) => ({ id: "m" + i, ts: 100 - i, from: i === 1 ? "me" : "o" }));
  const rows = async (args) => (await snapshot(pageWith(inbox((r) => [r.thread("a", { messages })])), args)).threads[0];

  test("the newest displayable messages of others, at most 10", async () => {
    const t = await rows({ recent: 25 });
    assert.equal(t.recent.length, 10);
    assert.deepEqual(t.recent[0], { id: "m0", ts: 100, snippet: "text m0" });
    assert.equal(t.recent[1].id, "m2");
    assert.equal((await rows({ recent: 2 })).recent.length, 2);
  });

  test("no recent field unless a positive number was asked for", async () => {
    for (const recent of [0, undefined, "5", -1]) assert.equal("recent" in (await rows({ recent })), false);
  });
});

describe("row details", () => {
  test("title, user name, members and avatars", async () => {
    const env = inbox((r) => [
      r.thread("one", { users: ["solo"] }),
      r.thread("grp", { is_group: true, users: ["x", "y", "z"], thread_title: "" }),
      r.thread("named", { thread_title: "Team", thread_image_url: "http://i/t.jpg", users: ["p", "q"] }),
    ]);
    const res = byKey(await snapshot(pageWith(env)));
    assert.deepEqual([res.kone.title, res.kone.username], ["solo", "solo"]);
    assert.deepEqual([res.kgrp.title, res.kgrp.username, res.kgrp.members.length], ["x, y, z", "", 3]);
    assert.deepEqual([res.knamed.title, res.knamed.avatars], ["Team", ["http://i/t.jpg"]]);
    assert.deepEqual(res.kone.members[0], { username: "solo", fullName: "", avatar: "", verified: false });
  });

  test("viewer name comes from the first listed thread", async () => {
    assert.equal((await snapshot(pageWith(inbox((r) => [r.thread("a")])))).viewerUsername, "me.viewer");
  });
});

describe("tab probe", () => {
  test("runs once per path", async () => {
    const env = inbox((r) => [r.thread("a")]);
    const page = fakePage({ [SELECTOR]: [rowElement(env)], [TAB_ELEMENTS]: [leaf(" Primary "), leaf("요청"), { childElementCount: 1, textContent: "General" }] });
    assert.equal((await snapshot(page)).tabs, "Primary,요청");
    page.matches[TAB_ELEMENTS] = [];
    assert.equal((await snapshot(page)).tabs, "Primary,요청");
    page.location.pathname = "/direct/t/1/";
    assert.equal((await snapshot(page)).tabs, "");
    assert.equal(page.queried.filter((q) => q === TAB_ELEMENTS).length, 2);
  });
});

test("the viewer fbid alone never matches an unknown fbid", async () => {
  // A viewer record without an fbid must not claim receipts or reactions
  // that carry no participant.
  const r = new Records();
  r.r.viewer.interop_messaging_user_fbid = undefined;
  const t = r.thread("a", { messages: [{ id: "m", ts: 5, reactions: [{ ts: 6, emoji: "x" }] }] });
  r.r[t.slide_read_receipts.__refs[1]].participant_fbid = undefined;
  r.mailbox({ connections: { [CONN]: [t] } });
  const row = (await snapshot(pageWith(r.env()))).threads[0];
  assert.deepEqual([row.hasReceipt, row.reactionByMe, row.unread], [false, false, true]);
  assert.equal(VIEWER_FBID, "1784");
});
