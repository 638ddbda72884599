// A front end for unit tests: it records what the model tells it, lets a test wait for a
// notification, and leaves acting as the person to the test (vxt::gesture).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/frontend.h"

namespace vxt::recording {

struct Note {
  enum Kind {
    shown,
    caption,
    control_change,
    focus,
    moved,
    destroyed,
    message_open,
    message_closed,
    ending,
    blocked,  // value 1 when blocked, 0 when free again
    refused   // text: the refusal
  };
  Kind kind = shown;
  int window = 0;  // window or message number
  int control = 0;
  int value = 0;            // result, status, progress position or x
  std::string text;         // caption, control text, message text
  WindowSnapshot snapshot;  // for shown
  MessageSnapshot message;  // for message
};

std::vector<Note> notes();
void clear();
// Waits until pred(notes) holds, re-checking after every notification; false after `seconds`.
bool wait_for(const std::function<bool(const std::vector<Note>&)>& pred, double seconds = 10);
// Convenience: waits for the newest shown window of that dialog; returns its number or 0.
int wait_for_window(int dialog, double seconds = 10);
// Waits for an open message window; returns its snapshot (number 0 on time-out).
MessageSnapshot wait_for_message(double seconds = 10);
void set_metrics(const frontend::Metrics& metrics);

}  // namespace vxt::recording
