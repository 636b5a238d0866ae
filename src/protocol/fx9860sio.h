#pragma once
// TFX9860sio: the calculator link protocol over one transport channel.
//
// One object serves one maintenance session: construct it with the link kind, FStart,
// run commands (device information, flash or RAM read-out), FStop, destroy. Every wait
// lets the user interface run its pending messages, so a Cancel reaches StopRequest().
//
// Packets on the wire: a binary type byte, two ASCII subtype characters, a data flag
// "0"/"1", when the flag is "1" four hex digits of data size and the data, then two hex
// digits of checksum (the negated byte sum from the subtype up to the last data byte).
// Binary data is escaped: bytes below 0x20 go as 0x5C, byte + 0x20; 0x5C goes as 5C 5C.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "env/operation_status.h"
#include "link/hardware.h"
#include "protocol/answer.h"
#include "protocol/extended_commands.h"

namespace ostrel {

class TPacketTrace;
class TByteSink;

// Waits and time-outs of a session. The defaults are the protocol's own; tests and tools
// may shorten them.
struct TLinkTimings {
  std::chrono::milliseconds answer{5000};        // inactivity time-out of a normal receive
  std::chrono::milliseconds baud_check{1000};    // header wait of the checks around a baud change
  std::chrono::milliseconds silence{3000};       // quiet line that ends WaitForSilence
  std::chrono::milliseconds usb_retry{1000};     // pause between two USB open attempts
  // Pause between the last byte of an exchange and the first request on a channel opened
  // after it (a calculator switching its line speed); a channel opened before any exchange
  // needs none.
  std::chrono::milliseconds open_settle{100};
  // How long a USB start waits for a calculator that is there but does not take the link
  // yet (not in receive mode); nothing: until it does or the user stops (a front end that
  // nobody watches gives a limit).
  std::optional<std::chrono::milliseconds> receive_mode_wait;
};

// Where the link goes, beyond the link kind.
struct TLinkTarget {
  // Serial: the port (a device path); overrides the settings value PROGRAM / COMPORT.
  std::optional<std::string> serial_port;
  // USB: a device file or stream endpoint, passed to the USB channel as DEVICENAME.
  std::optional<std::string> usb_device;
  // Where the ports come from: empty opens real ones (a serial port or a USB device);
  // otherwise every Open takes its port from here (an in-memory line in tests).
  TPortFactory port_factory;
  // Every packet sent and received goes to this trace too (not owned; none: no trace).
  TPacketTrace* trace = nullptr;
  TLinkTimings timings{};
};

// Load and start address of a program image, as eight upper-case hex digits each (empty
// when the file is shorter than its 48-byte header).
struct TImageAddresses {
  std::string load_address;
  std::string start_address;
};

// How the OS/BIOS query ended.
enum class TOsBiosQuery {
  NoAnswer,  // nothing came back to the command
  Failed,    // the record packet did not come (an error box was shown)
  Received,  // the record is filled in
};

// The calculator's self-description: 16 text fields padded with 0xFF.
using TDeviceInfoRecord = std::array<std::uint8_t, 164>;

// Result codes of ReceiveAnswer and of every send that waits for an answer. A command or
// data packet gives the length of its data field instead.
inline constexpr int kNoAnswer = 0;        // nothing usable arrived
inline constexpr int kAcknowledged = 1;    // acknowledge or role swap
inline constexpr int kOverwriteAsked = 2;  // error "02": the calculator asks to overwrite

// Packet type codes.
inline constexpr std::uint8_t kTypeCommand = 0x01;
inline constexpr std::uint8_t kTypeData = 0x02;
inline constexpr std::uint8_t kTypeRoleswap = 0x03;
inline constexpr std::uint8_t kTypeCheck = 0x05;
inline constexpr std::uint8_t kTypeAck = 0x06;
inline constexpr std::uint8_t kTypeError = 0x15;
inline constexpr std::uint8_t kTypeTerminate = 0x18;

// Image sizes of the read-outs.
inline constexpr std::uint32_t kFlashImageSmall = 0x270000;
inline constexpr std::uint32_t kFlashImageLarge = 0x400000;
inline constexpr std::uint32_t kFlashImageMinimum = 0x200000;  // the whole flash of a 2 MiB unit
inline constexpr std::uint32_t kRamImageSize = 0x80000;


class TFX9860sio {
 public:
  static constexpr std::size_t kMaxDataField = 2056;                      // escaped bytes
  static constexpr std::size_t kSendBufferSize = kMaxDataField + 10 + 1;  // + framing + NUL

  // A serial link takes its port from the target (the operation resolves it from the
  // settings beforehand, see ResolveLinkTarget); the protocol reads no setting.
  TFX9860sio(LinkKind kind, TUserInterface ui, TLinkTarget target = {});
  ~TFX9860sio();
  TFX9860sio(const TFX9860sio&) = delete;
  TFX9860sio& operator=(const TFX9860sio&) = delete;

  // ---- channel ----
  // Replaces the channel with a new one from the connection string, waits for it to
  // settle and reports the channel's diagnostics. Always 0.
  int Open(const std::string& connection);
  int Close();  // always 0
  // Takes a channel made elsewhere (an in-memory line for tests and fuzzing) in place of
  // the current one, without the settle pause.
  void Attach(std::unique_ptr<THardware> channel);
  bool FXClosed() const { return !channel_; }
  void EnsureOpen() const;  // "comx not assigned"
  void Report(const std::string& text) const;  // a diagnostics line (nothing without a notifier)
  std::uint64_t TakeReceivedCount();  // bytes taken from the channel since the last call

  // ---- building and sending ----
  void StartPacket(std::string_view text);
  void AppendText(std::string_view text);
  void AppendBytes(std::span<const std::uint8_t> bytes);
  void AppendChecksum();
  // Writes the send buffer; with wait_for_answer the result of ReceiveAnswer, else 0.
  int SendPacket(bool wait_for_answer);
  // One packet; waits for the answer unless the subtype is "77" or "79".
  int SendCommand(std::string_view subtype, const std::uint8_t* data, int length, std::uint8_t type,
                  bool append_nul, bool escape);
  // SendCommand, giving the answer itself (an empty answer for "77" and "79").
  TAnswer Exchange(std::string_view subtype, std::span<const std::uint8_t> data, std::uint8_t type,
                   bool append_nul, bool escape);
  // A command (type 0x01) with the parameter block: codes, file size and up to six texts.
  int SendParameterCommand(std::string_view subtype, int overwrite_code, int data_type,
                           std::uint32_t file_size, const std::array<std::string_view, 6>& texts);
  TAnswer ExchangeParameterCommand(std::string_view subtype, int overwrite_code, int data_type,
                                   std::uint32_t file_size, const std::array<std::string_view, 6>& texts);

  // ---- receiving ----
  // Bytes stored; count <= 0 waits for a quiet line instead and gives 0. LastEnd() then
  // says how the reception ended (TLinkEnd::None: every byte came, or the line went quiet).
  // A stop request ends the wait at once (TLinkEnd::Stopped).
  int ReceiveBytes(int count);
  int WaitForSilence();
  TLinkEnd LastEnd() const { return last_end_; }
  // The bytes that arrived without being asked for: what the port holds now, read without
  // waiting. Traced and reported as discarded.
  std::vector<std::uint8_t> TakeStaleBytes();
  // Receives and classifies one packet (kNoAnswer, kAcknowledged, kOverwriteAsked or a
  // data length). An error packet with data raises "Error: " + its subtype.
  int ReceiveAnswer();
  // The same, giving the classified packet. The received header and data (below) follow
  // it, so CheckAnswer tests it too.
  TAnswer AwaitAnswer();
  // Why the last answer or read-out failed, in words a user can act on: no answer within
  // the time-out (to which packet), the link lost, a damaged packet, an error answer and
  // its meaning, a block out of order. Empty while nothing has failed.
  const std::string& FailureCause() const { return failure_cause_; }

  // ---- session ----
  // 0 connected, 2 not connected, or the stop request that ended a USB start.
  int FStart(bool skip_check = false, int retries = 0);
  int FStop();  // serial: back to 9600 baud; then close. Always 0.
  // After a command that restarts the calculator, with the link closed: waits until its
  // USB device can no longer be opened, at most `limit`. A restarting calculator drops off
  // the bus within moments; opening it before that would reach the session that is about
  // to end. True when it left (always for a serial line, which stays plugged in); false
  // when the limit passed or a stop was requested first.
  bool WaitUntilCalculatorLeaves(std::chrono::milliseconds limit);
  int SendCheck(std::string_view subtype = "00");
  int SendRoleswap();
  int SendAck();
  int SendTerminate();
  int SendLinkSettings(const std::string& baud_rate, const std::string& parity, const std::string& stop_bits);
  // True when the received header starts with the expected bytes; else, with show_error,
  // an error box explains what came instead.
  bool CheckAnswer(std::string_view expected, bool show_error, bool backup_hint = false);
  bool CheckAnswer(const TAnswer& answer, std::string_view expected, bool show_error, bool backup_hint = false);

  // ---- device information ----
  // 0, or 8 when the calculator did not answer with its record (an error box was shown).
  int GetDeviceInfo(TDeviceInfoRecord& record);

  // ---- read-outs ----
  // The image goes block by block into `sink`, which is closed at the end on every path
  // that returns. Result of the last acknowledge sent: not 0 = ran to its end (also after a
  // stop), 0 = refused or broken off.
  int ReceiveFlashImage(const std::string& device, TByteSink& sink, std::uint16_t flags);
  // The same from a unit whose flash holds `flash_size` bytes (its device information
  // says so): a flash smaller than the size the flags select is read whole, and no more.
  int ReceiveFlashImage(const std::string& device, TByteSink& sink, std::uint16_t flags,
                        std::optional<std::uint32_t> flash_size);
  int ReceiveRamImage(const std::string& device, TByteSink& sink);
  // Of the last read-out: bytes in the file and the size the image should have.
  std::uint64_t BytesWritten() const { return bytes_written_; }
  std::uint64_t ImageSize() const { return image_size_; }

  // ---- upload-and-run and the uploaded program's commands ----
  // Checks contact, reads the program's addresses and uploads it with the run parameter
  // (a decimal number; any other text gives -1) in place of its word at offset 32. 0 when
  // the image was sent (whatever the calculator answered), -1 when the program file
  // (a path, or "@@MEMFILE@@" for the carried program) cannot be read.
  int FXUploadAndRun(const std::string& program_file, const std::string& run_parameter);
  // The same for a program held in memory (`name` for the messages). Always 0.
  int UploadAndRun(std::span<const std::uint8_t> program, const std::string& name, const std::string& run_parameter);
  // The upload command "56" and the image blocks. The upload command's answer code; an
  // empty file raises "filesize 0:" + its name.
  int UploadImage(const TImageAddresses& addresses, const std::string& file_name, const std::string& run_parameter);
  // The upload of a program held in memory.
  int UploadProgram(const TImageAddresses& addresses, std::span<const std::uint8_t> program, const std::string& name,
                    const std::string& run_parameter);
  // False when the program file cannot be read.
  bool ReadImageAddresses(const std::string& file_name, TImageAddresses& addresses);
  // True when the last upload's command and every one of its blocks were acknowledged.
  // When not, FailureCause() says why the first of them was not: the blocks sent after a
  // refusal only fail in its wake.
  bool UploadAccepted() const { return upload_accepted_; }
  // The code of the error answer that refused the last upload first ("05": no room for it),
  // empty when it was refused otherwise or not at all.
  const std::string& UploadRefusalCode() const { return upload_refusal_code_; }
  // One command of the uploaded program with its data (escaped on the wire); the answer
  // (empty for "77" and "79", which are not answered).
  TAnswer SendExtended(TExtendedCommand command, std::span<const std::uint8_t> data = {});
  // "76": the acknowledge, then the record packet (a missing or other packet shows the
  // "wrong answer on:" box).
  TOsBiosQuery QueryOsBios(TOsBiosRecord& record);

  // ---- state, for callers and tests ----
  LinkKind Kind() const { return kind_; }
  const std::string& PortName() const { return port_name_; }
  std::string SerialConnection(int baud_rate) const;
  std::string UsbConnection() const;
  const std::array<std::uint8_t, 4>& ReceivedHeader() const { return header_; }
  // Data field of the last packet received with data, as it came over the wire (escaped).
  const std::vector<std::uint8_t>& ReceivedData() const { return received_data_; }
  std::span<const std::uint8_t> SendBuffer() const { return {send_buffer_.data(), send_length_}; }
  std::uint64_t SentByteCount() const { return sent_count_; }
  std::uint64_t TransferredTotal() const { return transferred_total_; }
  const TLinkTimings& Timings() const { return timings_; }
  void SetTimings(const TLinkTimings& timings) { timings_ = timings; timeout_ = timings.answer; }
  const TUserInterface& Ui() const { return ui_; }

 private:
  enum class FieldState { Intact, Cut, Damaged };
  bool ReceiveHeader();
  FieldState ReceiveDataField(std::vector<std::uint8_t>& data);
  FieldState ReceiveChecksum();
  TAnswerKind Classify(const TAnswer& answer, std::uint32_t subtype) const;
  bool WritePacket();
  // The check before an upload: any answer will do, a wrong one is shown.
  void CheckContact();
  // Before a request: true when nothing is waiting on the line. Bytes found there are an
  // answer nobody asked for (sent twice, or out of turn): the failure cause says so and
  // false keeps the request from being sent. Right after a channel was opened, what is
  // waiting (noise of a line just opened, an answer to the session before) is discarded.
  bool LineClearBeforeRequest(const std::string& request);
  TAnswer ExchangeControl(std::uint8_t type);

  struct ImageRequest;
  struct TransferProgress;
  void PostTransferProgress(const ImageRequest& request, TransferProgress& progress);
  bool RequestImage(const ImageRequest& request, const std::string& device);
  std::optional<std::string> BlockProblem(const TAnswer& answer, const ImageRequest& request,
                                          const TransferProgress& progress) const;
  void NoteFailure(std::string cause);
  std::string NoAnswerCause(TLinkEnd end);
  int ReceiveImage(const ImageRequest& request, const std::string& device, TByteSink& sink);
  static std::string WhereInTheBlocks(const TransferProgress& progress);
  void NoteEarlyEnd(const TransferProgress& progress);
  void StoreBlock(TByteSink& sink, std::vector<std::uint8_t> payload, TransferProgress& progress);
  int SerialStart();
  int UsbStart(bool skip_check, int retries);
  void NoSerialSession();  // the failure cause of a serial start that found no calculator
  std::vector<std::string> ReportChannelDiagnostics();

  LinkKind kind_;
  TUserInterface ui_;
  TLinkTarget target_;
  TLinkTimings timings_;
  std::string port_name_;

  std::vector<std::uint8_t> received_data_;
  std::vector<std::uint8_t> receive_buffer_;
  std::array<std::uint8_t, 4> header_{};
  int received_data_size_ = 0;
  std::array<std::uint8_t, 4> size_chars_{};
  std::array<std::uint8_t, 2> checksum_chars_{};
  std::uint8_t running_checksum_ = 0;
  std::chrono::milliseconds timeout_;
  std::chrono::milliseconds last_timeout_{0};  // the time-out of the last reception
  int last_header_length_ = 0;                 // header bytes of the last reception
  TLinkEnd last_end_ = TLinkEnd::None;         // how the last reception ended
  // When a byte last crossed the line (either way), and the moment before which a channel
  // opened after it must not be sent to.
  std::optional<std::chrono::steady_clock::time_point> last_activity_;
  std::optional<std::chrono::steady_clock::time_point> settled_at_;
  bool discard_stale_once_ = false;            // the next request discards what is waiting
  std::string last_sent_;                      // what the last packet sent was, for messages
  std::string failure_cause_;

  std::size_t send_length_ = 0;
  std::array<std::uint8_t, kSendBufferSize> send_buffer_{};

  std::uint64_t transferred_total_ = 0;
  std::uint64_t received_count_ = 0;
  std::uint64_t sent_count_ = 0;
  std::uint64_t bytes_written_ = 0;
  bool upload_accepted_ = false;
  std::string upload_refusal_code_;
  std::vector<std::string> open_diagnostics_;  // what the channel said when it was last opened
  std::uint64_t image_size_ = 0;

  std::unique_ptr<THardware> channel_;
  // The bytes of the answer being received, for the trace.
  std::vector<std::uint8_t> traced_answer_;
};

// The load and start address of a program image (empty when it is shorter than its
// 48-byte header).
TImageAddresses ImageAddresses(std::span<const std::uint8_t> program);
// The whole program file ("@@MEMFILE@@": the carried program); nothing when there is
// nothing to read (see OpenProgramFile). A file that cannot be read through raises.
std::optional<std::vector<std::uint8_t>> LoadProgramFile(const std::string& file_name);

// The text of an error answer by its two subtype characters ("Memory is full" for "05").
std::string ErrorAnswerText(std::string_view code);
// "error 05 (Memory is full)": an error answer for a message.
std::string ErrorAnswerMeaning(std::string_view code);

// ---- device information record and BIOS types ----

// Sixteen lines "label" + field text + CR LF, in record order.
std::string DeviceInfoText(const TDeviceInfoRecord& record);
// The characters up to the first 0xFF or 0x00, at most size of them.
std::string FieldText(const std::uint8_t* bytes, std::size_t size);
// The flash size the record states (its flash ROM capacity, in KiB as decimal digits), in
// bytes; nothing when the field is empty or no such number.
std::optional<std::uint32_t> FlashCapacity(const TDeviceInfoRecord& record);
// The name of a BIOS type number (low 16 bits); empty for an unknown number.
std::string BiosTypeName(std::uint32_t number);

}  // namespace ostrel
