// The test inbox's data: a viewer, threads with participants, messages,
// read receipts and reactions, and the GraphQL responses the test server
// answers the page's list and page queries with. Shared by server.mjs and
// the script tests, which may override any field of a thread or message
// through its `fields`.

export const VIEWER = Object.freeze({ id: "viewer:9001", fbid: "17841400000000001", pk: "9001", username: "corvid.viewer" });

const pad = (n, w) => String(n).padStart(w, "0");
export const message = (id, ts, sender, text, more = {}) => ({ id, ts, sender, text, reactions: [], ...more });

// A model of `threads` threads with `messages` messages each. Thread i is
// active i minutes before `now`; threads 0 and 1 hold unread incoming
// messages, the others are read up to their newest message. Thread 3 comes
// wrapped in an inbox item, every fifth thread is a group, thread `pinned`
// (default 5) is pinned.
export function createModel({ threads = 8, messages = 5, now = Date.now(), pinned = 5 } = {}) {
  const model = { threads: [], suggestion: true, seq: 0 };
  for (let i = 0; i < threads; i++) {
    const isGroup = i % 5 === 4;
    const users = Array.from({ length: isGroup ? 3 : 1 }, (_, u) => i * 10 + u).map((n) => ({
      __typename: "XFBIGDirectUser", id: "user:" + (50000 + n), fbid: "17841500000" + pad(n, 6), username: "friend_" + n,
      full_name: n % 3 === 2 ? "" : "Friend " + n, profile_pic_url: `http://127.0.0.1/pic/${n}.jpg`, is_verified: n % 7 === 0,
    }));
    const activity = now - i * 60000;
    model.threads.push({
      index: i, key: "3402823669" + pad(i, 10), fbid: "1000" + pad(i, 8), isGroup, isPin: i === pinned, wrapped: i === 3,
      title: isGroup ? "Group " + i : i % 2 === 0 ? users[0].full_name : "", activity, users,
      watermark: i < 2 ? activity - 10 * 60000 : activity,
      messages: Array.from({ length: messages }, (_, j) => {
        const sender = j % 3 === 2 ? VIEWER.fbid : users[j % users.length].fbid;
        return message(`${i}.${j}`, activity - j * 1000, sender, `Message ${j} of thread ${i}`);
      }),
    });
  }
  return model;
}

// Threads in list order: most recent activity first.
export const ordered = (model) => model.threads.slice().sort((a, b) => b.activity - a.activity);

// Applies a page event ({type: "message" | "reply" | "read" | "burst",
// thread: key, text?, id?, sender?, count?}) to the model and answers it as
// the complete events the page applies: one per message, with id, time,
// sender, and the thread's record and JSON as it is now. Unknown threads and
// types give none.
export function applyEvent(model, event) {
  const t = model.threads.find((x) => x.key === event.thread);
  if (!t) return [];
  if (event.type === "burst") {
    const id = event.id || "burst." + ++model.seq;
    const now = Date.now();
    return Array.from({ length: event.count || 2 }, (_, i) => {
      const text = (event.text || "Burst message") + " " + (i + 1);
      return applyEvent(model, { type: "message", thread: t.key, id: `${id}.${i}`, ts: now + i, text });
    }).flat();
  }
  const e = { type: event.type, thread: t.key, record: "thread:" + t.fbid, ts: event.ts || Date.now() };
  if (e.type === "read") {
    t.watermark = Math.max(t.watermark, ...t.messages.map((m) => m.ts));
  } else if (e.type === "message" || e.type === "reply") {
    e.id = event.id || "live." + ++model.seq;
    e.sender = e.type === "reply" ? VIEWER.fbid : event.sender || t.users[0].fbid;
    t.messages.unshift(message(e.id, e.ts, e.sender, event.text || ""));
    t.activity = Math.max(t.activity, e.ts);
    if (e.type === "reply") t.watermark = Math.max(t.watermark, e.ts);
  } else {
    return [];
  }
  return [{ ...e, json: threadJSON(t) }];
}

const messageJSON = (m) => ({
  __typename: "XFBIGDirectMessage", id: "message:" + m.id, message_id: "mid.$" + m.id, timestamp_ms: m.ts,
  sender_fbid: m.sender, content_type: "TEXT", text_body: m.text, igd_snippet: m.text, tombstone_reason: null,
  expiration_timestamp_ms: null, is_reported: false, content: { __typename: "XFBIGDSlideMessageText", text: m.text },
  reactions: m.reactions.map((r) => ({
    __typename: "XFBIGDirectReaction", log_message_id: r.log || null, timestamp_ms: r.ts, sender_fbid: r.sender, emoji: r.emoji,
  })),
  ...m.fields,
});

// A thread; thread 3 comes wrapped in an inbox item in the list.
function threadJSON(t) {
  return {
    __typename: "XFBIGDirectViewerThread", id: "thread:" + t.fbid, thread_key: t.key, thread_fbid: t.fbid, thread_id: t.fbid,
    thread_title: t.title, thread_image_url: t.isGroup ? `http://127.0.0.1/group/${t.index}.jpg` : null,
    is_group: t.isGroup, is_pin: t.isPin, is_muted: false, marked_as_unread: false, folder: 0, system_folder: "INBOX",
    last_activity_timestamp_ms: t.activity, viewer_id: VIEWER.fbid,
    viewer: { __typename: "XFBIGDirectViewer", id: VIEWER.id, interop_messaging_user_fbid: VIEWER.fbid, pk: VIEWER.pk,
      username: VIEWER.username },
    users: t.users.map(({ fbid, ...user }) => user),
    slide_read_receipts: [
      { participant_fbid: VIEWER.fbid, watermark_timestamp_ms: t.watermark },
      ...t.users.map((u) => ({ participant_fbid: u.fbid, watermark_timestamp_ms: t.activity })),
    ],
    slide_messages: {
      edges: t.messages.slice().sort((a, b) => b.ts - a.ts).slice(0, 20).map((m) => ({ node: messageJSON(m) })),
    },
    ...t.fields,
  };
}

// One page of the mailbox connection: `first` threads after `after`.
function connectionJSON(model, { first = 20, after = null } = {}) {
  const all = ordered(model);
  const start = Number((/^cursor:(\d+)$/.exec(after || "") || [0, 0])[1]);
  const page = all.slice(start, start + first);
  const edges = page.map((t, k) => ({
    __typename: "XFBIGDirectThreadEdge", cursor: "cursor:" + (start + k + 1),
    node: t.wrapped ? { __typename: "IGDInboxItem", id: "item:" + t.fbid, as_ig_direct_thread: threadJSON(t) } : threadJSON(t),
  }));
  if (model.suggestion && start === 0 && edges.length > 2) {
    edges.splice(2, 0, {
      __typename: "XFBIGDirectThreadEdge", cursor: "suggestion", node: { __typename: "IGDInboxSuggestion", id: "suggestion:1" },
    });
  }
  const end = start + page.length;
  return { edges, page_info: { __typename: "XFBPageInfo", end_cursor: "cursor:" + end, has_next_page: end < all.length } };
}

// The response to a query of the page, by operation name.
export function respond(model, name, variables = {}) {
  const mailbox = (fields) => ({
    data: { xfb_inbox_mailbox: { __typename: "XFBIGDirectMailbox", id: "mailbox:" + VIEWER.pk, ...fields } },
  });
  if (name === "IGDInboxListQuery") {
    const pins = model.threads.filter((t) => t.isPin)
      .map((t) => ({ __typename: "XFBIGDirectPinnedThread", id: "pin:" + t.fbid, thread: threadJSON(t) }));
    return mailbox({ pinned_threads_v2: pins, threads: connectionJSON(model, { first: variables.first }) });
  }
  if (name === "IGDInboxListPaginationQuery") return mailbox({ threads: connectionJSON(model, variables) });
  if (name === "PolarisViewerSettingsQuery") return { data: { viewer_settings: { id: "settings:" + VIEWER.pk, show_previews: true } } };
  return { errors: [{ message: "unknown query " + name }] };
}
