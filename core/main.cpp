// The program: the front end takes the first thread, the wizard runs on a second one, which is
// the wizard's main thread.
#include "core/entry.h"
#include "platform/frontend.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace {

int wizard_main_thread(void*) { vxt::end_process(vxt::wizard_entry()); }

void start_wizard() {
  if (vxt::start_thread(wizard_main_thread, nullptr) == nullptr) vxt::end_process(0);
}

}  // namespace

int main(int argc, char** argv) { return vxt::frontend::run(argc, argv, start_wizard); }
