// The device a port component talks to, chosen by the port name when the
// port is opened: a TCP connection for "tcp://HOST:PORT", the tty otherwise.
#include "tcp_device.h"

namespace serial {

namespace {

class SystemDevice : public SerialDevice {
 public:
  SystemDevice() : device_(MakeTtyDevice()) {}

  int Open(const std::string& path) override {
    if (device_->IsOpen()) return EBUSY;
    device_ = IsTcpPortName(path) ? MakeTcpDevice() : MakeTtyDevice();
    return device_->Open(path);
  }
  int Close() override { return device_->Close(); }
  bool IsOpen() const override { return device_->IsOpen(); }
  int Handle() const override { return device_->Handle(); }

  int SetCommState(const TDCB& dcb) override { return device_->SetCommState(dcb); }
  int SetCommTimeouts(const TCommTimeouts& t) override { return device_->SetCommTimeouts(t); }
  int SetupComm(int in, int out) override { return device_->SetupComm(in, out); }

  int ReadSome(uint8_t* buffer, size_t count, size_t& got) override {
    return device_->ReadSome(buffer, count, got);
  }
  int WriteSome(const uint8_t* buffer, size_t count, size_t& sent) override {
    return device_->WriteSome(buffer, count, sent);
  }
  int WaitReadable(int timeoutMs, bool& ready) override {
    return device_->WaitReadable(timeoutMs, ready);
  }
  int WaitWritable(int timeoutMs, bool& ready) override {
    return device_->WaitWritable(timeoutMs, ready);
  }
  int Drain(int timeoutMs, bool& drained) override { return device_->Drain(timeoutMs, drained); }

  int ClearCommError(TComStat& stat) override { return device_->ClearCommError(stat); }
  int Purge(uint32_t flags) override { return device_->Purge(flags); }
  int GetModemStatus(uint32_t& status) override { return device_->GetModemStatus(status); }
  int EscapeCommFunction(int function) override { return device_->EscapeCommFunction(function); }
  int TransmitCommChar(uint8_t ch) override { return device_->TransmitCommChar(ch); }
  int64_t NowMs() const override { return device_->NowMs(); }

  int EventDescriptor() const override { return device_->EventDescriptor(); }
  int PeekInputCount(uint32_t& count) const override { return device_->PeekInputCount(count); }
  int GetModemLines(uint32_t& status) const override { return device_->GetModemLines(status); }
  int GetLineCounters(TLineCounters& counters) const override {
    return device_->GetLineCounters(counters);
  }

 private:
  std::unique_ptr<SerialDevice> device_;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeSystemDevice() { return std::make_unique<SystemDevice>(); }

}  // namespace serial
