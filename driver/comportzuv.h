// Fiscal printer driver: the process-wide driver state, the link layer
// TComPortZUV and the fiscal commands TFiscal.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serial/comport.h"

namespace zuv {

using ByteList = std::vector<uint8_t>;

// Monotonic stopwatch with a millisecond reading, on the driver's clock.
class TStopwatch {
 public:
  void Start();    // restart from zero and run
  void Stop();     // freeze the reading
  int64_t ElapsedMilliseconds() const;
  bool IsRunning() const { return FRunning; }

 private:
  int64_t FStart = 0;
  int64_t FStopped = 0;
  bool FRunning = false;
};

// Clocks of the driver, per thread (see LinkState). Tests replace them to
// run time-outs instantly.
int64_t MonotonicMs();
void SetMonotonicClock(std::function<int64_t()> clock);  // empty: steady clock
// Local date-time as days since 1899-12-30 (fraction = time of day).
double NowDateTime();
void SetDateTimeClock(std::function<double()> clock);    // empty: system clock

// ---- driver state --------------------------------------------------------
// Every thread has its own driver state: one thread drives one printer, and
// a program with one thread sees one process-wide state. Nothing here is
// locked; a thread's state is touched only by that thread.
constexpr int SendBufferSize = 1025;
constexpr int MaxShortData = 254;   // one length byte: n = L + 1 <= 255
constexpr int MaxLongData = 1019;   // L + 6 <= SendBufferSize

extern thread_local std::unique_ptr<serial::TComPort> comport;
extern thread_local std::unique_ptr<std::map<char16_t, uint8_t>> ZUVtable;
extern thread_local std::unique_ptr<std::map<int32_t, std::string>> ErrorTableK3RT;  // UTF-8
extern thread_local uint8_t sendBuffer[SendBufferSize];
extern const uint8_t empty[SendBufferSize];  // never written: shared by all threads
extern thread_local std::unique_ptr<ByteList> receiveBuffer;
extern thread_local TStopwatch RxStopwatch;
extern thread_local int32_t RxExpectDataLen;
extern thread_local int32_t RxDataIndex;
extern thread_local int32_t ErrorCode;
extern thread_local bool PrinterType;
extern thread_local bool DebugMode;
extern thread_local std::unique_ptr<ByteList> bufferArtikala;

// How long reception waits for a reply, restarted by every wait code.
constexpr int64_t DefaultReplyBudgetMs = 2500;

// What this driver keeps beside the state above, reset as a whole.
struct LinkState {
  // Whether the printer acknowledged the last request (see
  // TComPortZUV::LastRequestAcknowledged).
  bool requestAcknowledged = false;
  // Replies are taken only when their checksum matches. Off only for a
  // device that fills the reply checksum differently.
  bool verifyReplyChecksum = true;
  // Probes (port detection) shorten it; commands use the default.
  int64_t replyBudgetMs = DefaultReplyBudgetMs;
  // Ports taken out of use by a fault, released once the failing call has
  // returned (dropped_ports.h).
  std::vector<std::unique_ptr<serial::TComPort>> droppedPorts;
  // Clock hooks; empty means the real clocks. They are per thread like the
  // rest: a fixture that fakes time fakes it for the thread it drives, and
  // another printer's thread keeps real time.
  std::function<int64_t()> monotonicClock;
  std::function<double()> dateTimeClock;
};
extern thread_local LinkState linkState;

// Sets the reply budget and checksum check for a scope and restores the
// previous values when it ends.
class ScopedLinkSettings {
 public:
  ScopedLinkSettings(int64_t replyBudgetMs, bool verifyReplyChecksum);
  explicit ScopedLinkSettings(int64_t replyBudgetMs)
      : ScopedLinkSettings(replyBudgetMs, linkState.verifyReplyChecksum) {}
  ~ScopedLinkSettings();
  ScopedLinkSettings(const ScopedLinkSettings&) = delete;
  ScopedLinkSettings& operator=(const ScopedLinkSettings&) = delete;

 private:
  int64_t savedBudgetMs_;
  bool savedVerify_;
};

// Forgets everything of the calling thread's driver state: as at program
// start (tests use it between cases). The port is closed.
void ResetDriverState();

// ---- link layer ----------------------------------------------------------
class TComPortZUV {
 public:
  static void ZUVtableInit();
  static void ErrorTableK3RTinit(const std::string& recnik);
  static bool ReceiveFrame(int cmd, int SOH);
  static void comportException(serial::TCustomComPort* Sender,
                               serial::TComExceptions TComException,
                               const std::string& ComportMessage, int64_t WinError,
                               const std::string& WinMessage);
  static void Init(const std::string& recnik);
  static bool OpenPort(const std::string& Port, int BRate, bool isPrinter, bool SetDebug);
  static void ClosePort();
  static std::vector<std::string> GetPorts();
  static std::vector<int> GetBaudRates();
  static std::vector<std::string> GetSettings();
  static bool SendFrame(int command, const std::vector<uint8_t>& dataBlock, bool printer,
                        bool longCmd);
  static std::vector<uint8_t> StringToZUVbytes(const std::u16string& naziv);
  static std::u16string ZUVbytesToString(const std::vector<uint8_t>& ZUVBytes);
  static void WriteLog(const std::string& s, int64_t timems, int64_t itr);

  // Error table access: membership, and the message (throws std::out_of_range
  // for a code the table lacks, or when no table exists).
  static bool HasErrorMessage(int32_t code);

  // Whether the printer acknowledged the last request sent by SendFrame,
  // whatever became of its reply. After a failed print command, true means
  // the printer took the command (it may have printed): do not simply repeat.
  static bool LastRequestAcknowledged();
  static std::string ErrorMessage(int32_t code);
};

extern TComPortZUV* ComPortZUV;  // never instantiated; operations are static

// Reply data: byte k of the last reply's data is receiveBuffer[RxDataIndex + k].
// Copies `count` data bytes from offset `k` into `out`; false (nothing read)
// when the reply's data or the bytes received are shorter than that.
bool ReplyField(int k, int count, uint8_t* out);

// A request frame as it goes on the line: start byte, length, command, data,
// 16-bit checksum. The caller keeps the data within MaxShortData/MaxLongData.
std::vector<uint8_t> EncodeRequestFrame(int command, const std::vector<uint8_t>& dataBlock,
                                        bool longCmd, bool printer);

// x * 100 rounded to the nearest integer, halves to even.
int64_t ToHundredths(double x);

// ---- fiscal commands -----------------------------------------------------
struct TStanjeRacuna {
  bool UspesanOdgovor = false;
  double MEDJUZBIR = 0;
  double UKUPNO = 0;
  int32_t BROJ_STAVKI = 0;
  double PLACENO_GOTOVINA = 0;
  double PLACENO_KARTICA = 0;
  double PLACENO_CEK = 0;
  int32_t BROJ_RACUNA = 0;
};

class TNonfiscalLine {
 public:
  TNonfiscalLine(std::u16string LineText, int32_t LineAlign, bool LineBold,
                 std::u16string LLeft, std::u16string LRight);
  const std::u16string& Text() const { return FLineText; }
  int32_t Align() const { return FLineAlign; }
  bool Bold() const { return FLineBold; }
  const std::u16string& TextLeft() const { return FLLeft; }
  const std::u16string& TextRight() const { return FLRight; }

 private:
  std::u16string FLineText;
  int32_t FLineAlign;
  bool FLineBold;
  std::u16string FLLeft;
  std::u16string FLRight;
};

class TFiscal {
 public:
  static bool TestVeze();
  static bool PresekStanja();
  static bool DnevniIzvestaj();
  static bool PeriodicniIzvestaj(double POCETNI, double KRAJNI);
  static bool NefiskalniIsecak(const std::vector<TNonfiscalLine>& LINES, int32_t LINE_SIZE);
  // Prints the rows of the line table cdsNefiskalni (line_table.h), texts
  // trimmed; every error while reading or sending gives false.
  static bool NefiskalniIsecakEPSON(int32_t LINE_SIZE);
  static bool DodajArtikal(int32_t KOD, const std::u16string& NAZIV, int32_t JM, int32_t PS,
                           double CENA);
  static bool ProgramirajArtikle();
  static bool PromenaCene(int32_t KOD, double CENA);
  static bool BrisanjeBaze();
  static bool NaplataRacuna(int32_t TIP, double IZNOS);
  static bool AutomatskiZatvoriRacun();
  static bool StornoCeoRacun();
  static TStanjeRacuna StanjeRacuna();
  static int32_t StanjeRacunaBrojStavki();
  static int32_t CitajBI();
  static int32_t CitajBD();
  static std::u16string CitajIBFM();
  static std::string CitajVreme();
  static bool TrakuPomeri();
  static bool TrakuSeci();
  static bool ZvucniSignal();
};

extern TFiscal* Fiscal;  // never instantiated; operations are static

// Formats one non-fiscal line to width W by its alignment code.
std::u16string FormatNonfiscalLine(const TNonfiscalLine& line, int32_t W);

}  // namespace zuv
