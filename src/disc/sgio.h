// The Linux transport: request blocks carried to /dev/srN through the SG_IO ioctl, drives found
// under /sys/class/block/sr*.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "disc/scsi.h"

struct sg_io_hdr;

class TSgIoTransport : public IScsiTransport {
 public:
  // sysRoot stands for "/sys" and devRoot for "/dev" (tests point them at folders of their own).
  explicit TSgIoTransport(std::string sysRoot = "/sys", std::string devRoot = "/dev");
  ~TSgIoTransport() override;

  std::vector<TScsiDriveEntry> Discover() override;
  void Send(TScsiRequest& request, uint32_t timeoutMs) override;
  bool SetExclusive(uint8_t adapter, uint8_t target, uint8_t lun, bool exclusive) override;

  // The SG_IO call; tests replace it. Returns the ioctl's result with errno set on failure.
  std::function<int(int fd, sg_io_hdr* header)> Ioctl;

  // The largest transfer one request may carry.
  static constexpr uint32_t kMaxTransfer = 16u << 20;

 private:
  struct TNode {
    std::string Name;
    int Fd = -1;
    bool ReadOnly = false;
    bool Exclusive = false;
  };
  using TAddress = std::tuple<uint8_t, uint8_t, uint8_t>;
  // Opens the node when it is not open; returns the errno of a failure, 0 on success.
  int Open(TNode& node, bool exclusive);
  static void Close(TNode& node);

  std::string sysRoot_, devRoot_;
  std::mutex lock_;
  std::map<TAddress, TNode> nodes_;
};

// Fills a request's result from one SG_IO call: the ioctl's return value and errno, and the
// header it filled.
void MapSgIoResult(int rc, int error, const sg_io_hdr& header, TScsiRequest& request);
