#include "platform/linux/gtk/main_window.h"

#include <handy.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/lifecycle.h"
#include "base/text.h"
#include "platform/linux/gtk/file_reveal.h"
#include "platform/linux/gtk/style.h"
#include "push/ntfy.h"
#include "ui/main_window_model.h"
#include "ui/qr_code.h"
#include "ui/status.h"

namespace corvid::linux_platform {

namespace {

namespace text = main_window_text;

std::string str(std::string_view s) { return std::string(s); }

// Setters that leave a widget alone when it already shows the value, so
// that a re-render neither queues needless layouts nor disturbs a widget.
void setText(GtkWidget* label, std::string_view s) {
  if (std::string_view(gtk_label_get_text(GTK_LABEL(label))) == s) return;
  gtk_label_set_text(GTK_LABEL(label), str(s).c_str());
  keepKoreanWordsTogether(label);
}
void setVisible(GtkWidget* w, bool visible) {
  if (gtk_widget_get_visible(w) != visible) gtk_widget_set_visible(w, visible);
}
void setSensitive(GtkWidget* w, bool sensitive) {
  if (gtk_widget_get_sensitive(w) != sensitive) gtk_widget_set_sensitive(w, sensitive);
}
void setButtonLabel(GtkWidget* button, std::string_view s) {
  const char* current = gtk_button_get_label(GTK_BUTTON(button));
  if (!current || std::string_view(current) != s) gtk_button_set_label(GTK_BUTTON(button), str(s).c_str());
}

GtkWidget* newLabel(std::string_view s, std::initializer_list<const char*> classes = {}) {
  GtkWidget* l = gtk_label_new(str(s).c_str());
  gtk_label_set_xalign(GTK_LABEL(l), 0);
  gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(l), PANGO_WRAP_WORD_CHAR);
  // Wrapped labels ask for their natural width otherwise, which would
  // widen the form beyond the window.
  gtk_label_set_max_width_chars(GTK_LABEL(l), 1);
  gtk_widget_set_hexpand(l, TRUE);
  keepKoreanWordsTogether(l);
  for (const char* c : classes) setStyleClass(l, c);
  return l;
}

GtkWidget* newButton(std::string_view s) { return gtk_button_new_with_label(str(s).c_str()); }

GtkWidget* newGroup(std::string_view title) {
  GtkWidget* g = hdy_preferences_group_new();
  if (!title.empty()) hdy_preferences_group_set_title(HDY_PREFERENCES_GROUP(g), str(title).c_str());
  return g;
}

// A list row holding arbitrary content, padded like libhandy's own rows.
GtkWidget* newRow(GtkWidget* content) {
  GtkWidget* row = hdy_preferences_row_new();
  gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), FALSE);
  gtk_list_box_row_set_selectable(GTK_LIST_BOX_ROW(row), FALSE);
  g_object_set(content, "margin-start", 12, "margin-end", 12, "margin-top", 8, "margin-bottom", 8, nullptr);
  gtk_container_add(GTK_CONTAINER(row), content);
  return row;
}

// A row that stays hidden through gtk_widget_show_all(); render() shows it
// when it has something to say. Its content is shown, ready for that.
GtkWidget* newHiddenRow(GtkWidget* content) {
  GtkWidget* row = newRow(content);
  gtk_widget_set_no_show_all(row, TRUE);
  gtk_widget_show(content);
  return row;
}

GtkWidget* newActionRow(std::string_view title) {
  GtkWidget* row = hdy_action_row_new();
  hdy_preferences_row_set_title(HDY_PREFERENCES_ROW(row), str(title).c_str());
  hdy_action_row_set_subtitle_lines(HDY_ACTION_ROW(row), 0);
  gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row), FALSE);
  gtk_list_box_row_set_selectable(GTK_LIST_BOX_ROW(row), FALSE);
  return row;
}

void setSubtitle(GtkWidget* row, std::string_view s) {
  const char* current = hdy_action_row_get_subtitle(HDY_ACTION_ROW(row));
  if (!current || std::string_view(current) != s)
    hdy_action_row_set_subtitle(HDY_ACTION_ROW(row), str(s).c_str());
}

void setRowTitle(GtkWidget* row, std::string_view s) {
  const char* current = hdy_preferences_row_get_title(HDY_PREFERENCES_ROW(row));
  if (!current || std::string_view(current) != s)
    hdy_preferences_row_set_title(HDY_PREFERENCES_ROW(row), str(s).c_str());
}

// A symbolic icon at the status symbol's size (30 pixels).
void setIcon(GtkWidget* image, std::string_view name) {
  const char* current = nullptr;
  if (gtk_image_get_storage_type(GTK_IMAGE(image)) == GTK_IMAGE_ICON_NAME)
    gtk_image_get_icon_name(GTK_IMAGE(image), &current, nullptr);
  if (!current || std::string_view(current) != name) {
    gtk_image_set_from_icon_name(GTK_IMAGE(image), str(name).c_str(), GTK_ICON_SIZE_DIALOG);
    gtk_image_set_pixel_size(GTK_IMAGE(image), 30);
  }
}

void setAccessibleName(GtkWidget* w, std::string_view name) {
  if (AtkObject* a = gtk_widget_get_accessible(w)) atk_object_set_name(a, str(name).c_str());
}

void valign(GtkWidget* w, GtkAlign a = GTK_ALIGN_CENTER) { gtk_widget_set_valign(w, a); }

constexpr const char* kActionKey = "corvid-action";
constexpr const char* kIndexKey = "corvid-index";

void setAction(GtkWidget* button, MainAction action) {
  g_object_set_data(G_OBJECT(button), kActionKey, GINT_TO_POINTER(static_cast<int>(action) + 1));
}
std::optional<MainAction> actionOf(GtkWidget* button) {
  int v = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), kActionKey));
  if (v == 0) return std::nullopt;
  return static_cast<MainAction>(v - 1);
}

// The QR code as black modules on white, `scale` pixels each, with the
// quiet zone readers need; dark and light stay as they are in any theme.
GdkPixbuf* qrPixbuf(const QrCode& code, int scale) {
  const int side = (code.size + 2 * kQrQuietZone) * scale;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, side, side);
  gdk_pixbuf_fill(pixbuf, 0xffffffff);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const int mx = x / scale - kQrQuietZone;
      const int my = y / scale - kQrQuietZone;
      if (mx < 0 || my < 0 || mx >= code.size || my >= code.size || !code.dark(mx, my)) continue;
      guchar* p = pixels + y * stride + x * 3;
      p[0] = p[1] = p[2] = 0;
    }
  }
  return pixbuf;
}

void removeChildren(GtkWidget* container) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(container));
  for (GList* c = children; c; c = c->next) gtk_widget_destroy(GTK_WIDGET(c->data));
  g_list_free(children);
}

}  // namespace

// The grouped form: status, iPhone, Instagram, general, advanced. Widgets
// are made once and updated in place on each rendering; only the pairing
// rows and the status action area are rebuilt, and only when what they show
// changes, so the code field and the server field keep their text, cursor
// and focus while the Watcher changes underneath.
struct MainWindowContent::View {
  MainWindowDependencies deps;
  PushClient& push;
  // Tasks started here hold the view through this token and touch it only
  // while it is set.
  std::shared_ptr<View*> alive = std::make_shared<View*>(this);

  // View state.
  std::string code;
  std::optional<std::string> launchError;
  std::optional<std::string> ntfyTopicText;
  bool confirmLogout = false;
  std::optional<PushClient::Pairing> unpairTarget;
  std::optional<Health::Kind> lastHealth;

  GtkWidget* root = nullptr;
  // status section
  GtkWidget* symbolStack = nullptr;
  GtkWidget* symbol = nullptr;
  GtkWidget* spinner = nullptr;
  GtkWidget* stepLabel = nullptr;
  GtkWidget* titleLabel = nullptr;
  GtkWidget* detailLabel = nullptr;
  std::vector<GtkWidget*> lineLabels;
  GtkWidget* linesBox = nullptr;
  GtkWidget* actionBox = nullptr;
  std::optional<StatusActionArea> shownActions;
  // iPhone section
  GtkWidget* phoneList = nullptr;  // the group's list box, for placing pairing rows
  std::vector<GtkWidget*> pairingRowWidgets;
  std::vector<PushClient::Pairing> shownPairings;
  std::vector<PairingRow> shownPairingRows;
  GtkWidget* codeRow = nullptr;
  GtkWidget* pairSpinner = nullptr;
  GtkWidget* codeEntry = nullptr;
  GtkWidget* connectButton = nullptr;
  GtkWidget* pairNoteRow = nullptr;
  GtkWidget* pairNoteLabel = nullptr;
  GtkWidget* sendTestButton = nullptr;
  GtkWidget* testNoteLabel = nullptr;
  // ntfy section
  GtkWidget* ntfyTopicEntry = nullptr;
  GtkWidget* ntfyTopicCaptionRow = nullptr;
  GtkWidget* ntfyTopicCaptionLabel = nullptr;
  GtkWidget* ntfyTokenEntry = nullptr;
  GtkWidget* qrRow = nullptr;
  GtkWidget* qrImage = nullptr;
  std::optional<std::string> shownQr;
  GtkWidget* ntfyTestButton = nullptr;
  GtkWidget* ntfyTestNoteLabel = nullptr;
  // Instagram section
  GtkWidget* accountLabel = nullptr;
  GtkWidget* accountButton = nullptr;
  GtkWidget* inboxLabel = nullptr;
  // general section
  GtkWidget* launchRow = nullptr;
  GtkWidget* launchSwitch = nullptr;
  GtkWidget* loginSettingsRow = nullptr;
  GtkWidget* snippetSwitch = nullptr;
  GtkWidget* desktopMessagesSwitch = nullptr;
  // advanced group
  GtkWidget* advanced = nullptr;
  GtkWidget* serverEntry = nullptr;
  GtkWidget* defaultServerButton = nullptr;
  GtkWidget* statisticsLabel = nullptr;
  GtkWidget* versionLabel = nullptr;
  // open confirmations
  GtkWidget* logoutDialog = nullptr;
  GtkWidget* unpairDialog = nullptr;

  sigc::connection changes;
  bool renderQueued = false;
  Timer relativeTimeTick;
  // Pairings typed here; one still waiting for the relay ends with the view.
  OwnedTasks tasks;

  explicit View(MainWindowDependencies d) : deps(std::move(d)), push(deps.watcher.push()) {
    hdy_init();
    installCorvidStyles();
    root = hdy_preferences_page_new();
    g_object_ref_sink(root);
    gtk_widget_set_size_request(root, kMainWindowMinWidth, kMainWindowMinHeight);
    gtk_container_add(GTK_CONTAINER(root), buildStatusSection());
    gtk_container_add(GTK_CONTAINER(root), buildPhoneSection());
    gtk_container_add(GTK_CONTAINER(root), buildNtfySection());
    gtk_container_add(GTK_CONTAINER(root), buildInstagramSection());
    gtk_container_add(GTK_CONTAINER(root), buildGeneralSection());
    gtk_container_add(GTK_CONTAINER(root), buildAdvancedSection());
    gtk_widget_show_all(root);
    changes = deps.watcher.objectWillChange().connect([this] { queueRender(); });
    // Relative times ("10초 전") move on without any change.
    relativeTimeTick = deps.scheduler.every(std::chrono::seconds(5), [this] { queueRender(); });
    render();
  }

  ~View() {
    *alive = nullptr;
    tasks.cancel();
    changes.disconnect();
    relativeTimeTick.cancel();
    for (GtkWidget* d : {logoutDialog, unpairDialog})
      if (d) gtk_widget_destroy(d);
    gtk_widget_destroy(root);
    g_object_unref(root);
  }

  // --- building ----------------------------------------------------------

  GtkWidget* buildStatusSection() {
    GtkWidget* group = newGroup("");
    GtkWidget* hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 14);
    g_object_set(hbox, "margin-top", 6, "margin-bottom", 6, nullptr);

    symbolStack = gtk_stack_new();
    gtk_widget_set_size_request(symbolStack, 40, 40);
    valign(symbolStack, GTK_ALIGN_START);
    symbol = gtk_image_new();
    gtk_image_set_pixel_size(GTK_IMAGE(symbol), 30);
    spinner = gtk_spinner_new();
    gtk_widget_set_size_request(spinner, 24, 24);
    gtk_widget_set_halign(spinner, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(spinner, GTK_ALIGN_CENTER);
    gtk_stack_add_named(GTK_STACK(symbolStack), symbol, "symbol");
    gtk_stack_add_named(GTK_STACK(symbolStack), spinner, "spinner");
    gtk_box_pack_start(GTK_BOX(hbox), symbolStack, FALSE, FALSE, 0);

    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_widget_set_hexpand(texts, TRUE);
    stepLabel = newLabel("", {kStepClass, "dim-label"});
    titleLabel = newLabel("", {kTitleClass});
    detailLabel = newLabel("", {"dim-label"});
    linesBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    actionBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_widget_set_margin_top(actionBox, 4);
    for (GtkWidget* w : {stepLabel, titleLabel, detailLabel, linesBox, actionBox})
      gtk_box_pack_start(GTK_BOX(texts), w, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(hbox), texts, TRUE, TRUE, 0);
    gtk_widget_set_name(hbox, "status");
    gtk_container_add(GTK_CONTAINER(group), newRow(hbox));
    return group;
  }

  GtkWidget* buildPhoneSection() {
    GtkWidget* group = newGroup(text::kPhoneHeader);

    codeRow = newActionRow("");
    pairSpinner = gtk_spinner_new();
    gtk_spinner_start(GTK_SPINNER(pairSpinner));
    gtk_widget_set_no_show_all(pairSpinner, TRUE);
    codeEntry = gtk_entry_new();
    gtk_widget_set_name(codeEntry, "code-entry");
    gtk_entry_set_placeholder_text(GTK_ENTRY(codeEntry), str(text::kCodePrompt).c_str());
    setAccessibleName(codeEntry, text::kCodePrompt);
    gtk_entry_set_input_purpose(GTK_ENTRY(codeEntry), GTK_INPUT_PURPOSE_DIGITS);
    // No maximum length: a pasted "12 34 56" must arrive whole to be
    // filtered down to its digits.
    gtk_entry_set_width_chars(GTK_ENTRY(codeEntry), 8);
    gtk_widget_set_size_request(codeEntry, 110, -1);
    setStyleClass(codeEntry, kDigitsClass);
    connectButton = newButton(text::kConnectButton);
    gtk_widget_set_name(connectButton, "connect");
    for (GtkWidget* w : {pairSpinner, codeEntry, connectButton}) {
      valign(w);
      gtk_container_add(GTK_CONTAINER(codeRow), w);
    }
    g_signal_connect(codeEntry, "insert-text", G_CALLBACK(onCodeInsert), this);
    g_signal_connect(codeEntry, "changed", G_CALLBACK(onCodeChanged), this);
    g_signal_connect(codeEntry, "activate", G_CALLBACK(onCodeActivate), this);
    g_signal_connect(connectButton, "clicked", G_CALLBACK(onCodeActivate), this);
    gtk_container_add(GTK_CONTAINER(group), codeRow);
    phoneList = gtk_widget_get_parent(codeRow);

    pairNoteLabel = newLabel("", {kCalloutClass});
    pairNoteRow = newHiddenRow(pairNoteLabel);
    gtk_container_add(GTK_CONTAINER(group), pairNoteRow);

    gtk_container_add(GTK_CONTAINER(group), newTestRow(text::kSendTestButton, "send-test",
                                                       MainAction::sendTest, sendTestButton, testNoteLabel));

    gtk_container_add(GTK_CONTAINER(group), footer(text::kPhoneFooter));
    return group;
  }

  // A send-test button with its outcome note beside it.
  GtkWidget* newTestRow(std::string_view label, const char* name, MainAction action, GtkWidget*& button,
                        GtkWidget*& note) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    button = newButton(label);
    gtk_widget_set_name(button, name);
    setAction(button, action);
    g_signal_connect(button, "clicked", G_CALLBACK(onAction), this);
    valign(button);
    note = newLabel("", {kCalloutClass});
    valign(note);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), note, TRUE, TRUE, 0);
    return newRow(box);
  }

  GtkWidget* buildNtfySection() {
    GtkWidget* group = newGroup(text::kNtfyHeader);

    GtkWidget* topicRow = newActionRow(text::kNtfyTopicLabel);
    ntfyTopicEntry = gtk_entry_new();
    gtk_widget_set_name(ntfyTopicEntry, "ntfy-topic-entry");
    gtk_entry_set_placeholder_text(GTK_ENTRY(ntfyTopicEntry), str(text::kNtfyTopicPrompt).c_str());
    setAccessibleName(ntfyTopicEntry, text::kNtfyTopicLabel);
    gtk_entry_set_input_purpose(GTK_ENTRY(ntfyTopicEntry), GTK_INPUT_PURPOSE_URL);
    gtk_entry_set_width_chars(GTK_ENTRY(ntfyTopicEntry), 24);
    gtk_widget_set_hexpand(ntfyTopicEntry, TRUE);
    GtkWidget* newTopic = newButton(text::kNewNtfyTopicButton);
    gtk_widget_set_name(newTopic, "new-ntfy-topic");
    setAction(newTopic, MainAction::newNtfyTopic);
    for (GtkWidget* w : {ntfyTopicEntry, newTopic}) {
      valign(w);
      gtk_container_add(GTK_CONTAINER(topicRow), w);
    }
    g_signal_connect(ntfyTopicEntry, "changed", G_CALLBACK(onNtfyTopicChanged), this);
    g_signal_connect(newTopic, "clicked", G_CALLBACK(onAction), this);
    gtk_container_add(GTK_CONTAINER(group), topicRow);

    ntfyTopicCaptionLabel = newLabel("", {kCalloutClass});
    gtk_widget_set_name(ntfyTopicCaptionLabel, "ntfy-topic-caption");
    ntfyTopicCaptionRow = newHiddenRow(ntfyTopicCaptionLabel);
    gtk_container_add(GTK_CONTAINER(group), ntfyTopicCaptionRow);

    GtkWidget* tokenRow = newActionRow(text::kNtfyTokenLabel);
    ntfyTokenEntry = gtk_entry_new();
    gtk_widget_set_name(ntfyTokenEntry, "ntfy-token-entry");
    gtk_entry_set_placeholder_text(GTK_ENTRY(ntfyTokenEntry), str(text::kNtfyTokenPrompt).c_str());
    setAccessibleName(ntfyTokenEntry, text::kNtfyTokenLabel);
    gtk_entry_set_visibility(GTK_ENTRY(ntfyTokenEntry), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(ntfyTokenEntry), GTK_INPUT_PURPOSE_PASSWORD);
    gtk_entry_set_width_chars(GTK_ENTRY(ntfyTokenEntry), 24);
    gtk_widget_set_hexpand(ntfyTokenEntry, TRUE);
    valign(ntfyTokenEntry);
    gtk_container_add(GTK_CONTAINER(tokenRow), ntfyTokenEntry);
    g_signal_connect(ntfyTokenEntry, "changed", G_CALLBACK(onNtfyTokenChanged), this);
    gtk_container_add(GTK_CONTAINER(group), tokenRow);

    qrImage = gtk_image_new();
    gtk_widget_set_name(qrImage, "ntfy-qr");
    gtk_widget_set_halign(qrImage, GTK_ALIGN_CENTER);
    qrRow = newHiddenRow(qrImage);
    gtk_container_add(GTK_CONTAINER(group), qrRow);

    gtk_container_add(GTK_CONTAINER(group),
                      newTestRow(text::kNtfyTestButton, "ntfy-send-test", MainAction::sendNtfyTest,
                                 ntfyTestButton, ntfyTestNoteLabel));

    gtk_container_add(GTK_CONTAINER(group), footer(text::kNtfyFooter));
    return group;
  }

  GtkWidget* buildInstagramSection() {
    GtkWidget* group = newGroup(text::kInstagramHeader);
    GtkWidget* account = newActionRow(text::kAccountLabel);
    accountLabel = gtk_label_new("");
    setStyleClass(accountLabel, "dim-label");
    gtk_label_set_ellipsize(GTK_LABEL(accountLabel), PANGO_ELLIPSIZE_END);
    accountButton = newButton("");
    gtk_widget_set_name(accountButton, "account");
    g_signal_connect(accountButton, "clicked", G_CALLBACK(onAction), this);
    for (GtkWidget* w : {accountLabel, accountButton}) {
      valign(w);
      gtk_container_add(GTK_CONTAINER(account), w);
    }
    gtk_container_add(GTK_CONTAINER(group), account);

    GtkWidget* inbox = newActionRow(text::kInboxLabel);
    inboxLabel = gtk_label_new("");
    setStyleClass(inboxLabel, "dim-label");
    gtk_label_set_line_wrap(GTK_LABEL(inboxLabel), TRUE);
    gtk_label_set_xalign(GTK_LABEL(inboxLabel), 1);
    gtk_label_set_justify(GTK_LABEL(inboxLabel), GTK_JUSTIFY_RIGHT);
    valign(inboxLabel);
    gtk_container_add(GTK_CONTAINER(inbox), inboxLabel);
    gtk_container_add(GTK_CONTAINER(group), inbox);

    gtk_container_add(GTK_CONTAINER(group), footer(text::kInstagramFooter));
    return group;
  }

  GtkWidget* buildGeneralSection() {
    GtkWidget* group = newGroup(text::kGeneralHeader);
    launchRow = newActionRow(text::kLaunchAtLoginLabel);
    launchSwitch = gtk_switch_new();
    gtk_widget_set_name(launchSwitch, "launch-at-login");
    valign(launchSwitch);
    gtk_container_add(GTK_CONTAINER(launchRow), launchSwitch);
    hdy_action_row_set_activatable_widget(HDY_ACTION_ROW(launchRow), launchSwitch);
    g_signal_connect(launchSwitch, "notify::active", G_CALLBACK(onLaunchSwitch), this);
    gtk_container_add(GTK_CONTAINER(group), launchRow);

    GtkWidget* settingsButton = newButton(text::kLoginItemSettingsButton);
    gtk_widget_set_halign(settingsButton, GTK_ALIGN_START);
    setAction(settingsButton, MainAction::openLoginItemSettings);
    g_signal_connect(settingsButton, "clicked", G_CALLBACK(onAction), this);
    loginSettingsRow = newHiddenRow(settingsButton);
    gtk_container_add(GTK_CONTAINER(group), loginSettingsRow);

    GtkWidget* snippet = newActionRow(text::kSnippetLabel);
    setSubtitle(snippet, text::kSnippetCaption);
    setTint(snippet, Tint::secondary, true);
    snippetSwitch = gtk_switch_new();
    valign(snippetSwitch);
    gtk_container_add(GTK_CONTAINER(snippet), snippetSwitch);
    hdy_action_row_set_activatable_widget(HDY_ACTION_ROW(snippet), snippetSwitch);
    g_signal_connect(snippetSwitch, "notify::active", G_CALLBACK(onSnippetSwitch), this);
    gtk_container_add(GTK_CONTAINER(group), snippet);

    GtkWidget* desktop = newActionRow(text::kDesktopMessagesLabel);
    desktopMessagesSwitch = gtk_switch_new();
    gtk_widget_set_name(desktopMessagesSwitch, "desktop-messages");
    valign(desktopMessagesSwitch);
    gtk_container_add(GTK_CONTAINER(desktop), desktopMessagesSwitch);
    hdy_action_row_set_activatable_widget(HDY_ACTION_ROW(desktop), desktopMessagesSwitch);
    g_signal_connect(desktopMessagesSwitch, "notify::active", G_CALLBACK(onDesktopMessagesSwitch), this);
    gtk_container_add(GTK_CONTAINER(group), desktop);
    return group;
  }

  GtkWidget* buildAdvancedSection() {
    GtkWidget* group = newGroup("");
    advanced = hdy_expander_row_new();
    gtk_widget_set_name(advanced, "advanced");
    hdy_preferences_row_set_title(HDY_PREFERENCES_ROW(advanced), str(text::kAdvancedHeader).c_str());
    hdy_expander_row_set_expanded(HDY_EXPANDER_ROW(advanced), FALSE);

    GtkWidget* server = newActionRow(text::kServerLabel);
    serverEntry = gtk_entry_new();
    gtk_widget_set_name(serverEntry, "server-entry");
    gtk_entry_set_placeholder_text(GTK_ENTRY(serverEntry), str(text::kServerPrompt).c_str());
    setAccessibleName(serverEntry, text::kServerLabel);
    gtk_entry_set_input_purpose(GTK_ENTRY(serverEntry), GTK_INPUT_PURPOSE_URL);
    gtk_entry_set_width_chars(GTK_ENTRY(serverEntry), 24);
    gtk_widget_set_hexpand(serverEntry, TRUE);
    defaultServerButton = newButton(text::kDefaultServerButton);
    gtk_widget_set_name(defaultServerButton, "default-server");
    setAction(defaultServerButton, MainAction::resetServer);
    gtk_widget_set_no_show_all(defaultServerButton, TRUE);
    for (GtkWidget* w : {serverEntry, defaultServerButton}) {
      valign(w);
      gtk_container_add(GTK_CONTAINER(server), w);
    }
    g_signal_connect(serverEntry, "changed", G_CALLBACK(onServerChanged), this);
    g_signal_connect(defaultServerButton, "clicked", G_CALLBACK(onAction), this);
    gtk_container_add(GTK_CONTAINER(advanced), server);

    gtk_container_add(GTK_CONTAINER(advanced), newRow(newLabel(text::kServerCaption, {"dim-label"})));

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    const std::pair<std::string_view, MainAction> actions[] = {
        {text::kInspectButton, MainAction::showInstagramInspect},
        {text::kReloadButton, MainAction::reloadFromSettings},
        {text::kRevealLogButton, MainAction::revealLog}};
    for (const auto& [label, action] : actions) {
      GtkWidget* b = newButton(label);
      setAction(b, action);
      g_signal_connect(b, "clicked", G_CALLBACK(onAction), this);
      gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    }
    gtk_container_add(GTK_CONTAINER(advanced), newRow(buttons));

    statisticsLabel = newLabel("", {kCaptionClass, "dim-label"});
    gtk_widget_set_name(statisticsLabel, "statistics");
    gtk_container_add(GTK_CONTAINER(advanced), newRow(statisticsLabel));
    gtk_container_add(GTK_CONTAINER(group), advanced);

    versionLabel = gtk_label_new("");
    setStyleClass(versionLabel, kCaptionClass);
    setTint(versionLabel, Tint::tertiary);
    gtk_label_set_justify(GTK_LABEL(versionLabel), GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(versionLabel, GTK_ALIGN_FILL);
    gtk_widget_set_margin_top(versionLabel, 12);
    gtk_container_add(GTK_CONTAINER(group), versionLabel);
    return group;
  }

  GtkWidget* footer(std::string_view s) {
    GtkWidget* l = newLabel(s, {kCaptionClass, "dim-label"});
    gtk_widget_set_margin_top(l, 6);
    return l;
  }

  // --- rendering ---------------------------------------------------------

  void queueRender() {
    if (renderQueued) return;
    renderQueued = true;
    std::weak_ptr<View*> token = alive;
    deps.scheduler.post([token] {
      auto held = token.lock();
      if (!held || !*held) return;
      (*held)->renderQueued = false;
      (*held)->render();
    });
  }

  void render() {
    MainWindowInputs in = mainWindowInputs(deps.watcher);
    MainWindowModel m =
        mainWindowModel(in, {code, launchError, ntfyTopicText}, appVersionText(), deps.clock.now());

    // status section
    if (m.spinner) {
      gtk_spinner_start(GTK_SPINNER(spinner));
      gtk_stack_set_visible_child(GTK_STACK(symbolStack), spinner);
    } else {
      gtk_spinner_stop(GTK_SPINNER(spinner));
      if (m.symbol) setIcon(symbol, iconName(*m.symbol));
      setTint(symbol, m.tint);
      gtk_stack_set_visible_child(GTK_STACK(symbolStack), symbol);
    }
    setVisible(stepLabel, m.setupStep.has_value());
    setText(stepLabel, m.setupStep.value_or(""));
    setText(titleLabel, m.title);
    setText(detailLabel, m.detail);
    while (lineLabels.size() < m.statusLines.size()) {
      GtkWidget* l = newLabel("", {kCalloutClass, "dim-label"});
      gtk_box_pack_start(GTK_BOX(linesBox), l, FALSE, FALSE, 0);
      lineLabels.push_back(l);
    }
    for (std::size_t i = 0; i < lineLabels.size(); ++i) {
      bool shown = i < m.statusLines.size();
      if (shown) setText(lineLabels[i], m.statusLines[i]);
      setVisible(lineLabels[i], shown);
    }
    setVisible(linesBox, !m.statusLines.empty());
    if (shownActions != m.actions) renderActions(m.actions);

    // iPhone section
    if (shownPairings != in.pairings || shownPairingRows != m.pairingRows) {
      renderPairings(in.pairings, m.pairingRows);
    }
    setRowTitle(codeRow, m.codeRowLabel);
    setVisible(pairSpinner, m.showsPairingSpinner);
    setSensitive(connectButton, m.connectEnabled);
    setVisible(pairNoteRow, m.pairNote.has_value());
    if (m.pairNote) {
      setText(pairNoteLabel, m.pairNote->text);
      setTint(pairNoteLabel, m.pairNote->tint);
    }
    setSensitive(sendTestButton, m.sendTestEnabled);
    setVisible(testNoteLabel, m.testNote.has_value());
    if (m.testNote) {
      setText(testNoteLabel, m.testNote->text);
      setTint(testNoteLabel, m.testNote->tint);
    }

    // ntfy section; the fields keep what the user typed, and change only
    // when the stored value was changed elsewhere
    setEntryText(ntfyTopicEntry, m.ntfyTopicText, G_CALLBACK(onNtfyTopicChanged));
    setVisible(ntfyTopicCaptionRow, m.ntfyTopicCaption.has_value());
    if (m.ntfyTopicCaption) {
      setText(ntfyTopicCaptionLabel, m.ntfyTopicCaption->text);
      setTint(ntfyTopicCaptionLabel, m.ntfyTopicCaption->tint);
    }
    if (trimmed(gtk_entry_get_text(GTK_ENTRY(ntfyTokenEntry))) != in.ntfyAccessToken)
      setEntryText(ntfyTokenEntry, in.ntfyAccessToken, G_CALLBACK(onNtfyTokenChanged));
    if (shownQr != m.qrCodeText) renderQr(m.qrCodeText);
    setSensitive(ntfyTestButton, m.ntfyTestEnabled);
    setVisible(ntfyTestNoteLabel, m.ntfyTestNote.has_value());
    if (m.ntfyTestNote) {
      setText(ntfyTestNoteLabel, m.ntfyTestNote->text);
      setTint(ntfyTestNoteLabel, m.ntfyTestNote->tint);
    }

    // Instagram section
    setText(accountLabel, m.accountText);
    setButtonLabel(accountButton, m.accountButton.label);
    setAction(accountButton, m.accountButton.action);
    setText(inboxLabel, m.inboxText);

    // general section
    setSwitch(launchSwitch, m.launchAtLoginOn, G_CALLBACK(onLaunchSwitch));
    setSubtitle(launchRow, m.launchAtLoginCaption.text);
    setTint(launchRow, m.launchAtLoginCaption.tint, true);
    setVisible(loginSettingsRow, m.showsLoginItemSettingsButton);
    setSwitch(snippetSwitch, m.includeSnippet, G_CALLBACK(onSnippetSwitch));
    setSwitch(desktopMessagesSwitch, m.desktopMessageNotifications, G_CALLBACK(onDesktopMessagesSwitch));

    // advanced group; the server field changes only when the value was
    // changed elsewhere ("기본값"), never while it is what the user typed
    if (m.serverURL != gtk_entry_get_text(GTK_ENTRY(serverEntry))) {
      g_signal_handlers_block_by_func(serverEntry, reinterpret_cast<gpointer>(onServerChanged), this);
      gtk_entry_set_text(GTK_ENTRY(serverEntry), m.serverURL.c_str());
      g_signal_handlers_unblock_by_func(serverEntry, reinterpret_cast<gpointer>(onServerChanged), this);
    }
    setVisible(defaultServerButton, m.showsDefaultServerButton);
    setText(statisticsLabel, m.statistics);
    setText(versionLabel, m.versionLine);

    // focus: whenever the health turns to noPhone, unless the user is
    // typing in another field (the server field) at that moment
    if (codeFocusOnHealthChange(lastHealth, in.health) && !typingElsewhere()) focusCode();
    lastHealth = in.health.kind;
  }

  void setSwitch(GtkWidget* sw, bool on, GCallback handler) {
    if (bool(gtk_switch_get_active(GTK_SWITCH(sw))) == on) return;
    g_signal_handlers_block_by_func(sw, reinterpret_cast<gpointer>(handler), this);
    gtk_switch_set_active(GTK_SWITCH(sw), on);
    g_signal_handlers_unblock_by_func(sw, reinterpret_cast<gpointer>(handler), this);
  }

  void setEntryText(GtkWidget* entry, const std::string& value, GCallback handler) {
    if (value == gtk_entry_get_text(GTK_ENTRY(entry))) return;
    g_signal_handlers_block_by_func(entry, reinterpret_cast<gpointer>(handler), this);
    gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
    g_signal_handlers_unblock_by_func(entry, reinterpret_cast<gpointer>(handler), this);
  }

  void renderQr(const std::optional<std::string>& url) {
    shownQr = url;
    std::optional<QrCode> code = url ? qrCode(*url) : std::nullopt;
    setVisible(qrRow, code.has_value());
    if (!code) {
      gtk_image_clear(GTK_IMAGE(qrImage));
      return;
    }
    GdkPixbuf* pixbuf = qrPixbuf(*code, 4);
    gtk_image_set_from_pixbuf(GTK_IMAGE(qrImage), pixbuf);
    g_object_unref(pixbuf);
    setAccessibleName(qrImage, *url);
  }

  void renderActions(const StatusActionArea& area) {
    using Layout = StatusActionArea::Layout;
    shownActions = area;
    removeChildren(actionBox);
    setVisible(actionBox, area.layout != Layout::none);
    if (area.layout == Layout::none) return;
    if (!area.note.empty())
      gtk_box_pack_start(GTK_BOX(actionBox), newLabel(area.note, {kCalloutClass, "dim-label"}), FALSE, FALSE,
                         0);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    for (const auto& b : area.buttons) {
      GtkWidget* button = newButton(b.label);
      setAction(button, b.action);
      g_signal_connect(button, "clicked", G_CALLBACK(onAction), this);
      if (area.layout == Layout::prominent) {
        setStyleClass(button, "suggested-action");
        setStyleClass(button, kProminentClass);
      }
      gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(actionBox), row, FALSE, FALSE, 0);
    gtk_widget_show_all(actionBox);
  }

  void renderPairings(const std::vector<PushClient::Pairing>& pairings, const std::vector<PairingRow>& rows) {
    shownPairings = pairings;
    shownPairingRows = rows;
    for (GtkWidget* w : pairingRowWidgets) gtk_widget_destroy(w);
    pairingRowWidgets.clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const PairingRow& r = rows[i];
      GtkWidget* hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
      GtkWidget* icon =
          gtk_image_new_from_icon_name(str(iconName(r.symbol)).c_str(), GTK_ICON_SIZE_LARGE_TOOLBAR);
      gtk_image_set_pixel_size(GTK_IMAGE(icon), 20);
      gtk_widget_set_size_request(icon, 22, -1);
      setStyleClass(icon, "dim-label");
      gtk_box_pack_start(GTK_BOX(hbox), icon, FALSE, FALSE, 0);

      GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
      GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
      GtkWidget* model = gtk_label_new(r.deviceModel.c_str());
      gtk_label_set_ellipsize(GTK_LABEL(model), PANGO_ELLIPSIZE_END);
      gtk_box_pack_start(GTK_BOX(top), model, FALSE, FALSE, 0);
      if (r.developmentBadge) {
        GtkWidget* badge = gtk_label_new(str(text::kDevelopmentBadge).c_str());
        gtk_widget_set_name(badge, "development-badge");
        setStyleClass(badge, kBadgeClass);
        valign(badge);
        gtk_box_pack_start(GTK_BOX(top), badge, FALSE, FALSE, 0);
      }
      gtk_box_pack_start(GTK_BOX(texts), top, FALSE, FALSE, 0);
      gtk_box_pack_start(GTK_BOX(texts), newLabel(r.dateLine, {kCaptionClass, "dim-label"}), FALSE, FALSE, 0);
      gtk_box_pack_start(GTK_BOX(hbox), texts, TRUE, TRUE, 0);

      GtkWidget* unpair = newButton(text::kUnpairButton);
      gtk_widget_set_name(unpair, "unpair");
      g_object_set_data(G_OBJECT(unpair), kIndexKey, GSIZE_TO_POINTER(i));
      g_signal_connect(unpair, "clicked", G_CALLBACK(onUnpair), this);
      valign(unpair);
      gtk_box_pack_start(GTK_BOX(hbox), unpair, FALSE, FALSE, 0);

      GtkWidget* row = newRow(hbox);
      gtk_widget_set_name(row, "pairing");
      gtk_widget_show_all(row);
      gtk_list_box_insert(GTK_LIST_BOX(phoneList), row, static_cast<int>(i));
      pairingRowWidgets.push_back(row);
    }
  }

  // --- operations --------------------------------------------------------

  void perform(MainAction action) {
    switch (action) {
      case MainAction::showInstagramLogin:
        deps.router.showInstagram(InstagramMode::login);
        break;
      case MainAction::showInstagramInspect:
        deps.router.showInstagram(InstagramMode::inspect);
        break;
      case MainAction::retryStatus:
        spawn(deps.watcher.sendCurrentStatus());
        break;
      case MainAction::reloadFromCard:
        deps.watcher.reload(kCardReloadReason);
        break;
      case MainAction::reloadFromSettings:
        deps.watcher.reload(kSettingsReloadReason);
        break;
      case MainAction::enableLaunchAtLogin:
        launchError = deps.watcher.setLaunchAtLogin(true);
        queueRender();
        break;
      case MainAction::confirmLogout:
        showLogoutConfirmation();
        break;
      case MainAction::openLoginItemSettings:
        deps.loginItem.openSettings();
        break;
      case MainAction::sendTest:
        spawn(push.sendTest());
        break;
      case MainAction::connect:
        connectStep();
        break;
      case MainAction::confirmUnpair:
        break;  // needs its pairing: see onUnpair
      case MainAction::resetServer:
        // setServerURL compares with the value it replaces and clears the
        // relay problems when the server really changed.
        push.setServerURL(push.defaultServerOrigin());
        break;
      case MainAction::revealLog:
        revealInFileManager(deps.activityLogPath);
        break;
      case MainAction::newNtfyTopic:
        // Typed into the field as the user would: stored at once.
        gtk_entry_set_text(GTK_ENTRY(ntfyTopicEntry), ntfy::newTopicURL().c_str());
        break;
      case MainAction::sendNtfyTest:
        spawn(push.sendNtfyTest());
        break;
    }
  }

  void connectStep() {
    if (!connectStepRuns(code)) return;
    tasks.spawn(pairTask(alive, push, deps.notifier, code));
  }

  // Pairs with the typed code; on success empties the field and asks for
  // permission to show desktop notifications (the answer is not used).
  static Task<void> pairTask(std::shared_ptr<View*> alive, PushClient& push, DesktopNotifier& notifier,
                             std::string typed) {
    Task<bool> pairing = push.pair(std::move(typed));
    bool paired = co_await std::move(pairing);
    if (!paired || !*alive) co_return;
    (*alive)->setCode("");
    Task<bool> permission = notifier.requestAuthorization();
    co_await std::move(permission);
  }

  void setCode(const std::string& value) {
    code = value;
    if (value != gtk_entry_get_text(GTK_ENTRY(codeEntry))) {
      g_signal_handlers_block_by_func(codeEntry, reinterpret_cast<gpointer>(onCodeChanged), this);
      gtk_entry_set_text(GTK_ENTRY(codeEntry), value.c_str());
      gtk_editable_set_position(GTK_EDITABLE(codeEntry), -1);
      g_signal_handlers_unblock_by_func(codeEntry, reinterpret_cast<gpointer>(onCodeChanged), this);
    }
    queueRender();
  }

  void focusCode() {
    // Without selecting: a half-typed code must not be replaced by the
    // next key press.
    gtk_entry_grab_focus_without_selecting(GTK_ENTRY(codeEntry));
  }

  bool typingElsewhere() const {
    GtkWindow* window = parentWindow();
    GtkWidget* focus = window ? gtk_window_get_focus(window) : nullptr;
    return focus && focus != codeEntry && GTK_IS_EDITABLE(focus);
  }

  GtkWindow* parentWindow() const {
    GtkWidget* top = gtk_widget_get_toplevel(root);
    return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
  }

  GtkWidget* confirmation(const Confirmation& c, GCallback onResponse) {
    GtkWidget* d = gtk_message_dialog_new(parentWindow(),
                                          GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", str(c.title).c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", str(c.message).c_str());
    GList* labels =
        gtk_container_get_children(GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d))));
    for (GList* l = labels; l; l = l->next)
      if (GTK_IS_LABEL(l->data)) keepKoreanWordsTogether(GTK_WIDGET(l->data));
    g_list_free(labels);
    // GTK's order: cancel first, the destructive choice last (rightmost,
    // where the desktop puts the affirmative button).
    gtk_dialog_add_button(GTK_DIALOG(d), str(c.cancelButton).c_str(), GTK_RESPONSE_CANCEL);
    GtkWidget* confirm =
        gtk_dialog_add_button(GTK_DIALOG(d), str(c.confirmButton).c_str(), GTK_RESPONSE_ACCEPT);
    setStyleClass(confirm, "destructive-action");
    gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    g_signal_connect(d, "response", onResponse, this);
    gtk_window_present(GTK_WINDOW(d));
    return d;
  }

  void showLogoutConfirmation() {
    if (logoutDialog) return;
    confirmLogout = true;
    logoutDialog = confirmation(kLogoutConfirmation, G_CALLBACK(onLogoutResponse));
  }

  void showUnpairConfirmation(const PushClient::Pairing& pairing) {
    if (unpairDialog) return;
    unpairTarget = pairing;
    unpairDialog = confirmation(kUnpairConfirmation, G_CALLBACK(onUnpairResponse));
  }

  // --- signal handlers ---------------------------------------------------

  static void onAction(GtkWidget* button, gpointer self) {
    if (auto action = actionOf(button)) static_cast<View*>(self)->perform(*action);
  }

  // Typing and pasting: what the field would hold after the insertion is
  // filtered at once (only digits, the first six), so the field never shows
  // the rejected characters and the cursor lands after what was kept of
  // the insertion. The "changed" that follows runs the connect rule.
  static void onCodeInsert(GtkEditable* editable, const char* inserted, int length, int* position,
                           gpointer self) {
    auto* v = static_cast<View*>(self);
    std::string current = gtk_entry_get_text(GTK_ENTRY(editable));
    glong chars = g_utf8_strlen(current.c_str(), -1);
    glong at = std::clamp<glong>(*position, 0, chars);
    std::size_t split = std::size_t(g_utf8_offset_to_pointer(current.c_str(), at) - current.c_str());
    std::string before = current.substr(0, split) +
                         std::string(inserted, length < 0 ? std::strlen(inserted) : std::size_t(length));
    CodeEdit edit = filterCode(before + current.substr(split), true);
    if (!edit.changed) return;  // digits that fit: inserted as typed
    g_signal_stop_emission_by_name(editable, "insert-text");
    int cursor = int(std::min(codeLength(filterCode(before, true).code), kCodeLength));
    g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(onCodeInsert), v);
    gtk_entry_set_text(GTK_ENTRY(editable), edit.code.c_str());  // "changed" runs onCodeChanged
    g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(onCodeInsert), v);
    *position = cursor;  // where the caller puts the cursor
    gtk_editable_set_position(editable, cursor);
  }

  // Every change, also one that bypassed the insertion filter.
  static void onCodeChanged(GtkEditable*, gpointer self) {
    auto* v = static_cast<View*>(self);
    CodeEdit edit = filterCode(gtk_entry_get_text(GTK_ENTRY(v->codeEntry)), v->push.isPairing());
    v->setCode(edit.code);
    if (edit.connect) v->connectStep();
  }

  static void onCodeActivate(GtkWidget*, gpointer self) { static_cast<View*>(self)->connectStep(); }

  static void onServerChanged(GtkEditable*, gpointer self) {
    auto* v = static_cast<View*>(self);
    v->push.setServerURL(gtk_entry_get_text(GTK_ENTRY(v->serverEntry)));
  }

  // Every edit: the text stays as typed; a usable topic (or none) is
  // stored at once, anything else is shown as not valid and not stored.
  static void onNtfyTopicChanged(GtkEditable*, gpointer self) {
    auto* v = static_cast<View*>(self);
    v->ntfyTopicText = gtk_entry_get_text(GTK_ENTRY(v->ntfyTopicEntry));
    v->push.setNtfyTopicURL(*v->ntfyTopicText);
    v->queueRender();
  }

  static void onNtfyTokenChanged(GtkEditable*, gpointer self) {
    auto* v = static_cast<View*>(self);
    v->push.setNtfyAccessToken(gtk_entry_get_text(GTK_ENTRY(v->ntfyTokenEntry)));
  }

  static void onDesktopMessagesSwitch(GObject*, GParamSpec*, gpointer self) {
    auto* v = static_cast<View*>(self);
    bool on = gtk_switch_get_active(GTK_SWITCH(v->desktopMessagesSwitch));
    if (on != v->deps.watcher.desktopMessageNotifications())
      v->deps.watcher.setDesktopMessageNotifications(on);
  }

  static void onLaunchSwitch(GObject*, GParamSpec*, gpointer self) {
    auto* v = static_cast<View*>(self);
    v->launchError = v->deps.watcher.setLaunchAtLogin(gtk_switch_get_active(GTK_SWITCH(v->launchSwitch)));
    // The switch follows the status read back, on the next rendering.
    v->queueRender();
  }

  static void onSnippetSwitch(GObject*, GParamSpec*, gpointer self) {
    auto* v = static_cast<View*>(self);
    bool on = gtk_switch_get_active(GTK_SWITCH(v->snippetSwitch));
    if (on != v->deps.watcher.includeSnippet()) v->deps.watcher.setIncludeSnippet(on);
  }

  static void onUnpair(GtkWidget* button, gpointer self) {
    auto* v = static_cast<View*>(self);
    auto i = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kIndexKey));
    if (i < v->shownPairings.size()) v->showUnpairConfirmation(v->shownPairings[i]);
  }

  static void onLogoutResponse(GtkDialog* dialog, int response, gpointer self) {
    auto* v = static_cast<View*>(self);
    v->confirmLogout = false;
    v->logoutDialog = nullptr;
    gtk_widget_destroy(GTK_WIDGET(dialog));
    if (response == GTK_RESPONSE_ACCEPT) spawn(v->deps.watcher.logout());
  }

  static void onUnpairResponse(GtkDialog* dialog, int response, gpointer self) {
    auto* v = static_cast<View*>(self);
    auto target = std::exchange(v->unpairTarget, std::nullopt);
    v->unpairDialog = nullptr;
    gtk_widget_destroy(GTK_WIDGET(dialog));
    if (response == GTK_RESPONSE_ACCEPT && target) spawn(v->push.unpair(*target));
  }
};

MainWindowContent::MainWindowContent(MainWindowDependencies deps)
    : view_(std::make_unique<View>(std::move(deps))) {}
MainWindowContent::~MainWindowContent() = default;
GtkWidget* MainWindowContent::widget() const { return view_->root; }

void MainWindowContent::windowShown() {
  view_->deps.watcher.refreshLaunchAtLogin();
  if (view_->deps.watcher.health().kind == Health::Kind::noPhone) view_->focusCode();
}

}  // namespace corvid::linux_platform
