#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/glib/network_monitor.h"

using namespace corvid;
using namespace corvid::linux_platform;

namespace {

// A network monitor whose availability the test sets, built on GIO's
// public interface the same way GIO's own monitors are.
struct TestMonitor {
  GObject parent;
  gboolean available;
};
struct TestMonitorClass {
  GObjectClass parent;
};

enum { PROP_0, PROP_AVAILABLE, PROP_METERED, PROP_CONNECTIVITY };

void testMonitorIfaceInit(GNetworkMonitorInterface*) {}
void testInitableIfaceInit(GInitableIface* iface) {
  iface->init = [](GInitable*, GCancellable*, GError**) -> gboolean { return TRUE; };
}

G_DEFINE_TYPE_WITH_CODE(TestMonitor, test_monitor, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_INITABLE, testInitableIfaceInit)
                            G_IMPLEMENT_INTERFACE(G_TYPE_NETWORK_MONITOR, testMonitorIfaceInit))

void test_monitor_init(TestMonitor*) {}

void testMonitorGet(GObject* object, guint id, GValue* value, GParamSpec*) {
  auto* self = reinterpret_cast<TestMonitor*>(object);
  if (id == PROP_AVAILABLE) g_value_set_boolean(value, self->available);
  if (id == PROP_METERED) g_value_set_boolean(value, FALSE);
  if (id == PROP_CONNECTIVITY)
    g_value_set_enum(value, self->available ? G_NETWORK_CONNECTIVITY_FULL : G_NETWORK_CONNECTIVITY_LOCAL);
}

void test_monitor_class_init(TestMonitorClass* klass) {
  GObjectClass* object = G_OBJECT_CLASS(klass);
  object->get_property = testMonitorGet;
  g_object_class_override_property(object, PROP_AVAILABLE, "network-available");
  g_object_class_override_property(object, PROP_METERED, "network-metered");
  g_object_class_override_property(object, PROP_CONNECTIVITY, "connectivity");
}

void setAvailable(TestMonitor* m, bool available) {
  m->available = available;
  g_signal_emit_by_name(m, "network-changed", available ? TRUE : FALSE);
}

TEST(GLibNetworkMonitor, ReportsTheStateAtStartAndOnEveryChangeSignal) {
  auto* fake = static_cast<TestMonitor*>(g_object_new(test_monitor_get_type(), nullptr));
  std::vector<bool> seen;
  {
    GLibNetworkMonitor monitor(G_NETWORK_MONITOR(fake));
    monitor.start([&](bool online) { seen.push_back(online); });
    EXPECT_EQ(seen, std::vector<bool>{false});  // at once, with the current state
    setAvailable(fake, true);
    setAvailable(fake, true);  // a signal without a change counts too
    setAvailable(fake, false);
    EXPECT_EQ(seen, (std::vector<bool>{false, true, true, false}));
    // The state is read from the monitor, not from the signal's argument.
    fake->available = TRUE;
    g_signal_emit_by_name(fake, "network-changed", FALSE);
    EXPECT_EQ(seen.back(), true);
  }
  setAvailable(fake, false);  // the adapter is gone: no call
  EXPECT_EQ(seen.size(), 5u);
  g_object_unref(fake);

  // The system's monitor answers too (whatever this machine's state is).
  GLibNetworkMonitor system;
  int calls = 0;
  system.start([&](bool) { ++calls; });
  EXPECT_EQ(calls, 1);
}

}  // namespace
