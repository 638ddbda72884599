// The whole upload session: transfer, settle wait, the check of the device, the result.
#include <new>

#include "core/report_failure.h"
#include "core/session_state.h"
#include "core/text.h"
#include "platform/process.h"
#include "tftp/success_window.h"
#include "tftp/tftp_session.h"
#include "tftp/transfer_window.h"
#include "web/request_runner.h"

namespace vxt {

void start_tftp_session(Socket socket, std::uint32_t group_address, std::uint32_t local_address,
                        std::uint16_t local_port, std::uint32_t peer_address,
                        std::uint16_t peer_port, const char* file_name) {
  auto* s = new (std::nothrow) TftpSession{};
  if (s == nullptr) {
    report_failure("Upgrade Failed: Can't malloc for TFTP session");
    end_process(0);
  }
  s->socket = socket;
  s->group_address = group_address;
  s->local_address = local_address;
  s->local_port = local_port;
  s->peer_address = peer_address;
  s->peer_port = peer_port;
  copy_text(s->file_name, file_name);
  prepare_tftp_session(s, session.image.size);
  run_tftp_session(s);
}

void run_tftp_session(TftpSession* s) {
  Window* window = create_modeless(uploading_dialog, transfer_window_proc);
  show_window(window);
  set_progress_range(window, transfer_progress_bar, static_cast<int>(s->block_count & 0xFFFF));
  socket_set_non_blocking(s->socket);

  const bool transferred = transfer_image(s, session.image.data, window);
  socket_close(s->socket);
  settle_wait(window);
  destroy_window(window);

  // The check asks the address the read request came from: the device that took the image.
  if (!transferred) {
    report_failure("Upgrade Failed: Firmware Upload Incomplete");
  } else if (run_web_request(s->local_address, 23456, s->peer_address, 80, "/admin/advanced",
                             session.http_buffer, http_capacity) <= 0) {
    report_failure("Upgrade Failed: VXT not responding after firmware upload");
  } else {
    run_modal(success_dialog, success_window_proc);
  }
  delete s;
  end_process(0);
}

}  // namespace vxt
