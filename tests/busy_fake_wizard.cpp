// A fake wizard behind the automation front end that keeps the output busy, for the tests of
// what the front end promises about its output: other threads still changing windows while
// the process ends, and a driver that stops reading while a progress bar runs.
//
//   busy_fake_wizard end_while_progressing ENDERS   a thread moves a progress bar without
//       pause; once it has moved a little, ENDERS threads (1 or 2) end the process at once
//   busy_fake_wizard flood STEPS                    moves a progress bar STEPS times (a caption
//       change every 500 steps), prints "flooded" on stderr, then ends the process when the
//       driver presses Cancel
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/frontend.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {

constexpr int connecting_window = 105;
constexpr int bar = 1010;

int mode_argc = 0;
char** mode_argv = nullptr;

int ignore_events(vxt::Window*, const vxt::Event&) { return 1; }

std::atomic<bool> cancelled{false};
int note_cancel(vxt::Window*, const vxt::Event& event) {
  if (event.kind == vxt::Event::command && event.id == vxt::command_cancel) cancelled = true;
  return 1;
}

std::atomic<long> moves{0};

void end_while_progressing(int enders) {
  std::thread([] {
    vxt::Window* w = vxt::create_modeless(connecting_window, ignore_events);
    vxt::show_window(w);
    for (int position = 0;; ++position) {
      vxt::set_progress_position(w, bar, position & 0xffff);
      ++moves;
    }
  }).detach();
  while (moves.load() < 20) std::this_thread::yield();
  std::vector<std::thread> threads;
  for (int i = 0; i < enders; ++i) threads.emplace_back([] { vxt::end_process(0); });
  for (std::thread& t : threads) t.join();
}

void flood(int steps) {
  vxt::Window* w = vxt::create_modeless(connecting_window, note_cancel);
  vxt::set_progress_range(w, bar, 0xffff);
  vxt::show_window(w);
  for (int position = 1; position <= steps; ++position) {
    vxt::set_progress_position(w, bar, position);
    if (position % 500 == 0) vxt::set_caption(w, ("step " + std::to_string(position)).c_str());
  }
  std::fprintf(stderr, "flooded\n");
  std::fflush(stderr);
  while (!cancelled) {
    if (!vxt::poll_event(w)) vxt::sleep_ms(1);
  }
  vxt::destroy_window(w);
}

void start() {
  std::thread([] {
    const std::string mode = mode_argc > 1 ? mode_argv[1] : "";
    const int count = mode_argc > 2 ? std::atoi(mode_argv[2]) : 1;
    if (mode == "end_while_progressing") end_while_progressing(count);
    if (mode == "flood") flood(count);
    vxt::end_process(0);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  mode_argc = argc;
  mode_argv = argv;
  return vxt::frontend::run(argc, argv, start);
}
