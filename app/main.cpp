// Corvid: forwards new Instagram Direct messages to a paired iPhone.
#include "platform/linux/gtk/application.h"

int main(int argc, char** argv) {
  corvid::linux_platform::CorvidApplication app;
  return app.run(argc, argv);
}
