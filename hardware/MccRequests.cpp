#include "hardware/MccRequests.h"

#include "hardware/Device.h"

int MccAllocate(int fd, uint32_t type, uint32_t rxPacketSize, uint32_t rxThreshold, uint32_t txThreshold) {
  uint8_t rec[20];
  Device::putBE32(rec, type);
  Device::putBE32(rec + 4, rxPacketSize);
  Device::putBE32(rec + 8, 0);
  Device::putBE32(rec + 12, rxThreshold);
  Device::putBE32(rec + 16, txThreshold);
  return Device::requestRecord(fd, MccRequest::kAllocate, rec, sizeof rec);
}
