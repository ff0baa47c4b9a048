// `zemnorvo desktop`'s tray item on a private bus, read as a tray host reads
// it: a watcher of the test's own takes the registration, and the real
// `gdbus call` program reads the item's properties and the menu's layout
// and clicks an answer, which must settle the suggestion as a notification
// button does.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <thread>

#include "cli/child_process.hpp"
#include "core/assess/compact.hpp"
#include "core/store/norvo_store.hpp"
#include "desktop/bus_service.hpp"
#include "desktop/private_bus.hpp"

namespace norvo {
namespace {

using namespace std::chrono_literals;

using Variant = std::unique_ptr<GVariant, decltype(&g_variant_unref)>;

// What `gdbus call` printed, read back as the value it prints; null when the
// call failed or printed something else. "--" keeps a -1 an argument.
Variant gdbusCall(const std::string& dest, const std::string& path, const std::string& method,
                  const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/gdbus", "call", "--session", "--dest", dest,
                                "--object-path",  path,   "--method",  method,   "--"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto ran = test::run(argv, "", 5s);
  GVariant* value = nullptr;
  if (ran.status == 0) value = g_variant_parse(nullptr, ran.out.c_str(), nullptr, nullptr, nullptr);
  EXPECT_TRUE(value) << ran.out << ran.errors;
  return {value, &g_variant_unref};
}

struct Entry {
  int32_t id = 0;
  std::string label;
  bool enabled = true;
  std::vector<Entry> children;
};

Entry entryOf(GVariant* layout) {
  Entry e;
  GVariant *props = nullptr, *children = nullptr;
  g_variant_get(layout, "(i@a{sv}@av)", &e.id, &props, &children);
  const gchar* label = nullptr;
  if (g_variant_lookup(props, "label", "&s", &label)) e.label = label;
  gboolean enabled = TRUE;
  if (g_variant_lookup(props, "enabled", "b", &enabled)) e.enabled = enabled;
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    e.children.push_back(entryOf(child));
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(props);
  g_variant_unref(children);
  return e;
}

// The revision and the whole menu, as a host reads it on opening.
std::pair<uint32_t, Entry> layoutOf(const std::string& item) {
  auto reply =
      gdbusCall(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", {"0", "-1", "@as []"});
  if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(u(ia{sv}av))"))) return {};
  guint32 revision = 0;
  GVariant* root = nullptr;
  g_variant_get(reply.get(), "(u@(ia{sv}av))", &revision, &root);
  auto entry = entryOf(root);
  g_variant_unref(root);
  return {revision, entry};
}

const Entry* findLabel(const Entry& e, const std::string& label) {
  if (e.label == label) return &e;
  for (const auto& c : e.children)
    if (const auto* found = findLabel(c, label)) return found;
  return nullptr;
}

bool toolsPresent() {
  return ::access("/usr/bin/gdbus", X_OK) == 0 && ::access("/usr/bin/dbus-daemon", X_OK) == 0;
}

QuitSuggestion fileQuitSuggestion(const test::FreshHome& home) {
  QuitSuggestion::Item app;
  app.name = "Browser";
  app.bundlePath = "/nonexistent/browser";  // nothing to signal, whatever is answered
  auto filed = QuitSuggestion::make("claude pid 42", "builds are slow", {app});
  EXPECT_TRUE(NorvoStore::addSuggestion(filed, home.store()));
  return filed;
}

std::vector<std::string> englishCompanion() {
  return {"/usr/bin/env", "LC_ALL=en_US.UTF-8", test::cliPath(), "desktop"};
}

TEST(TrayItem, AHostReadsTheItemAndItsMenuAndAClickAnswers) {
  if (!toolsPresent()) GTEST_SKIP() << "gdbus or dbus-daemon is missing (dbus-bin, libglib2.0-bin)";
  test::FreshHome home;
  test::TempDir dir;
  test::PrivateBus bus(dir);
  if (!bus.up()) GTEST_SKIP() << bus.why();
  auto watcher = test::startWatcher(bus.address());
  ASSERT_TRUE(watcher->up()) << watcher->why();

  NorvoSnapshot snapshot;
  snapshot.assessment.level = LoadLevel::critical;
  snapshot.assessment.recommendedParallelJobs = 3;
  snapshot.metrics.timestamp =
      std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  ASSERT_TRUE(NorvoStore::saveStatus(snapshot, home.store()));
  auto filed = fileQuitSuggestion(home);

  test::ChildProcess companion(englishCompanion());
  const char* registers = "RegisterStatusNotifierItem";
  ASSERT_TRUE(test::waitFor([&] { return !watcher->calls(registers).empty(); }, 5s))
      << companion.readErrors(1s);
  auto item = watcher->calls(registers).front().sender;
  EXPECT_EQ(watcher->calls(registers).front().args, "('" + item + "',)")
      << "registered under another connection's name";

  auto all = gdbusCall(item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.GetAll",
                       {"'org.kde.StatusNotifierItem'"});
  ASSERT_TRUE(all && g_variant_is_of_type(all.get(), G_VARIANT_TYPE("(a{sv})")));
  Variant props(g_variant_get_child_value(all.get(), 0), &g_variant_unref);
  const gchar* text = nullptr;
  ASSERT_TRUE(g_variant_lookup(props.get(), "Category", "&s", &text));
  EXPECT_STREQ(text, "SystemServices");
  ASSERT_TRUE(g_variant_lookup(props.get(), "Status", "&s", &text));
  EXPECT_STREQ(text, "NeedsAttention");
  ASSERT_TRUE(g_variant_lookup(props.get(), "Menu", "&o", &text));
  EXPECT_STREQ(text, "/MenuBar");
  gboolean isMenu = FALSE;
  ASSERT_TRUE(g_variant_lookup(props.get(), "ItemIsMenu", "b", &isMenu));
  EXPECT_TRUE(isMenu);
  const gchar *tipTitle = nullptr, *tipText = nullptr;
  ASSERT_TRUE(g_variant_lookup(props.get(), "ToolTip", "(&sa(iiay)&s&s)", nullptr, nullptr,
                               &tipTitle, &tipText));
  EXPECT_EQ(tipText, Compact::line(snapshot));
  // The icon's centre is the critical red, A R G B in that order.
  Variant icon(g_variant_lookup_value(props.get(), "IconPixmap", G_VARIANT_TYPE("a(iiay)")),
               &g_variant_unref);
  ASSERT_TRUE(icon && g_variant_n_children(icon.get()) > 0);
  gint32 width = 0, height = 0;
  GVariant* pixels = nullptr;
  g_variant_get_child(icon.get(), 0, "(ii@ay)", &width, &height, &pixels);
  gsize bytes = 0;
  const auto* argb = static_cast<const uint8_t*>(g_variant_get_fixed_array(pixels, &bytes, 1));
  ASSERT_EQ(bytes, static_cast<gsize>(width) * height * 4);
  const uint8_t* centre = argb + (static_cast<size_t>(height / 2) * width + width / 2) * 4;
  EXPECT_EQ(std::vector<uint8_t>(centre, centre + 4),
            (std::vector<uint8_t>{0xFF, 0xFF, 0x45, 0x3A}));
  g_variant_unref(pixels);

  auto [revision, menu] = layoutOf(item);
  const auto* jobs = findLabel(menu, "Recommended parallel jobs: 3");
  ASSERT_TRUE(jobs);
  EXPECT_FALSE(jobs->enabled);
  const auto* question = findLabel(menu, "claude pid 42 asks you to quit 1 app(s)");
  ASSERT_TRUE(question);
  ASSERT_EQ(question->children.size(), 2u);
  EXPECT_EQ(question->children[0].label, "Quit");
  const auto* keep = findLabel(*question, "Keep");
  ASSERT_TRUE(keep);

  // A host clicks "Keep", as the notification's button would.
  gdbusCall(item, "/MenuBar", "com.canonical.dbusmenu.Event",
            {std::to_string(keep->id), "'clicked'", "<''>", "0"});
  ASSERT_TRUE(test::waitFor(
      [&] {
        auto s = NorvoStore::suggestion(filed.id, home.store());
        return s && s->status != "pending";
      },
      5s))
      << companion.readErrors(1s);
  auto answered = NorvoStore::suggestion(filed.id, home.store());
  EXPECT_EQ(answered->status, "declined");
  EXPECT_EQ(answered->kept, std::vector<std::string>{"Browser"});

  // The answered question leaves the menu, under a new revision.
  std::pair<uint32_t, Entry> after;
  EXPECT_TRUE(test::waitFor(
      [&] {
        after = layoutOf(item);
        return !findLabel(after.second, "claude pid 42 asks you to quit 1 app(s)");
      },
      5s));
  EXPECT_GT(after.first, revision);

  // No loop has drawn the widget in this home: "Show widget" says so.
  const auto* show = findLabel(after.second, "Show widget");
  ASSERT_TRUE(show);
  gdbusCall(item, "/MenuBar", "com.canonical.dbusmenu.Event",
            {std::to_string(show->id), "'clicked'", "<''>", "0"});
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
  auto errors = companion.readErrors(1s);
  EXPECT_NE(errors.find("no widget image yet"), std::string::npos) << errors;
}

TEST(TrayItem, WithoutAWatcherItSaysSoOnceAndRegistersWithEachOneThatComes) {
  if (!toolsPresent()) GTEST_SKIP() << "gdbus or dbus-daemon is missing (dbus-bin, libglib2.0-bin)";
  test::FreshHome home;
  test::TempDir dir;
  test::PrivateBus bus(dir);
  if (!bus.up()) GTEST_SKIP() << bus.why();
  auto server = test::startNotificationServer(bus.address());
  ASSERT_TRUE(server->up()) << server->why();
  auto filed = fileQuitSuggestion(home);

  test::ChildProcess companion(englishCompanion());
  auto asked = companion.readLine(5s);
  ASSERT_TRUE(asked) << companion.readErrors(1s);
  EXPECT_NE(asked->find(filed.id), std::string::npos) << *asked;
  EXPECT_EQ(server->calls("Notify").size(), 1u);

  // A tray that starts later gets the item, and so does one that restarts.
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start);
    auto watcher = test::startWatcher(bus.address());
    ASSERT_TRUE(watcher->up()) << watcher->why();
    EXPECT_TRUE(test::waitFor(
        [&] { return watcher->calls("RegisterStatusNotifierItem").size() == 1; }, 5s));
  }
  companion.signal(SIGTERM);
  EXPECT_EQ(companion.wait(5s), 0);
  auto errors = companion.readErrors(1s);
  size_t said = 0;
  for (auto at = errors.find("no StatusNotifierWatcher"); at != std::string::npos;
       at = errors.find("no StatusNotifierWatcher", at + 1))
    ++said;
  EXPECT_EQ(said, 1u) << errors;
}

}  // namespace
}  // namespace norvo
