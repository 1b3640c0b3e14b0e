// The tunnel library's interface: its twenty operations, the log callback it
// calls, and the fixed-layout records it exchanges with its caller.
// Both the console and the stand-in library in sim/ build against this header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Calling convention of every operation and of the log callback.
#ifndef TUNNEL_CALL
#define TUNNEL_CALL
#endif

#define TUNNEL_API extern "C"

using ResultCode = int32_t;
inline constexpr ResultCode kTunnelOk = 0;

// Capacities in bytes, terminator included.
inline constexpr std::size_t kConfigTextCapacity = 256;
inline constexpr std::size_t kVersionCapacity = 64;
inline constexpr std::size_t kDomainCapacity = 128;
inline constexpr std::size_t kCommentInCapacity = 128;
inline constexpr std::size_t kCommentOutCapacity = 256;
inline constexpr std::size_t kPasscodeCapacity = 128;
inline constexpr std::size_t kPeerIdCapacity = 128;
inline constexpr std::size_t kSelfIdCapacity = 128;
inline constexpr std::size_t kAddressCapacity = 64;
inline constexpr std::size_t kRequestCapacity = 256;
inline constexpr std::size_t kDataCapacity = 252;

// Called by the library, from any of its threads, for each log message.
// Returns the number of characters of `message` it wrote.
using LogCallbackType = int32_t(TUNNEL_CALL*)(int32_t level, const char* message);

// Filled by TunnelPeerInfoGet.
struct PeerInfoRecord {
    std::array<char, kPeerIdCapacity> peer_id;
    uint32_t type;
    std::array<char, kAddressCapacity> local_login_addr;
    std::array<char, kAddressCapacity> remote_login_addr;
    std::array<char, kAddressCapacity> local_tunnel_addr;
    std::array<char, kAddressCapacity> remote_tunnel_addr;
    std::array<char, kAddressCapacity> remote_private_addr;
};
static_assert(offsetof(PeerInfoRecord, peer_id) == 0);
static_assert(offsetof(PeerInfoRecord, type) == 128);
static_assert(offsetof(PeerInfoRecord, local_login_addr) == 132);
static_assert(offsetof(PeerInfoRecord, remote_login_addr) == 196);
static_assert(offsetof(PeerInfoRecord, local_tunnel_addr) == 260);
static_assert(offsetof(PeerInfoRecord, remote_tunnel_addr) == 324);
static_assert(offsetof(PeerInfoRecord, remote_private_addr) == 388);
static_assert(sizeof(PeerInfoRecord) == 452);

// Filled by TunnelConnectLocalQuery and TunnelConnectEnum.
struct ConnectRecord {
    std::array<char, kPeerIdCapacity> peer_id;
    uint32_t type;
    uint32_t encrypt;
    std::array<char, kAddressCapacity> listen_addr;
    std::array<char, kAddressCapacity> client_addr;
};
static_assert(offsetof(ConnectRecord, peer_id) == 0);
static_assert(offsetof(ConnectRecord, type) == 128);
static_assert(offsetof(ConnectRecord, encrypt) == 132);
static_assert(offsetof(ConnectRecord, listen_addr) == 136);
static_assert(offsetof(ConnectRecord, client_addr) == 200);
static_assert(sizeof(ConnectRecord) == 264);

// Carries the capacity of `data` in `size`; the library writes `data`.
struct DataRecord {
    uint32_t size;
    std::array<char, kDataCapacity> data;
};
static_assert(offsetof(DataRecord, size) == 0);
static_assert(offsetof(DataRecord, data) == 4);
static_assert(sizeof(DataRecord) == 256);

// Output texts and records are written only on a 0 result.
TUNNEL_API ResultCode TUNNEL_CALL TunnelConfigGet(const char* file_name, char* config_text,
                                                  int32_t capacity);
TUNNEL_API ResultCode TUNNEL_CALL TunnelStart(const char* file_name, const char* config_text,
                                              int32_t reserved, LogCallbackType log_callback);
TUNNEL_API ResultCode TUNNEL_CALL TunnelStop();
TUNNEL_API ResultCode TUNNEL_CALL TunnelVersionGet(char* version);
TUNNEL_API ResultCode TUNNEL_CALL TunnelDomainSet(const char* domain);
TUNNEL_API ResultCode TUNNEL_CALL TunnelDomainGet(char* domain);
TUNNEL_API ResultCode TUNNEL_CALL TunnelCommentSet(const char* comment);
TUNNEL_API ResultCode TUNNEL_CALL TunnelCommentGet(char* comment);
TUNNEL_API ResultCode TUNNEL_CALL TunnelSet(const char* passcode, const char* comment);
TUNNEL_API ResultCode TUNNEL_CALL TunnelPeerInfoGet(const char* peer_id, PeerInfoRecord* info);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectAdd(const char* leading_text, const char* peer_id,
                                                   int32_t type, int32_t encrypt,
                                                   const char* listen_addr, const char* client_addr,
                                                   char* local_client_addr);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectDelete(const char* leading_text, const char* peer_id,
                                                      int32_t type, int32_t encrypt,
                                                      const char* listen_addr,
                                                      const char* client_addr);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectQuery(const char* peer_id, int32_t type,
                                                     int32_t encrypt, const char* listen_addr,
                                                     char* client_addr);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectLocalDelete(const char* leading_text,
                                                           const char* client_addr);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectLocalQuery(const char* client_addr,
                                                          ConnectRecord* record);
TUNNEL_API ResultCode TUNNEL_CALL TunnelUserExtend(const char* request, DataRecord* reply,
                                                   int32_t flags);
TUNNEL_API ResultCode TUNNEL_CALL TunnelPushGet(DataRecord* data, int32_t timeout_ms);
TUNNEL_API ResultCode TUNNEL_CALL TunnelSelfGet(char* self_id);
TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectEnum(int32_t index, ConnectRecord* record);
TUNNEL_API ResultCode TUNNEL_CALL TunnelStatusGet(int32_t reserved, uint32_t* status);
