// Setting enumerations, status sets and error codes of the port component.
#pragma once

#include <cstdint>

namespace serial {

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
constexpr int BaudRateCount = 16;
extern const int32_t CBaudRate[BaudRateCount];

enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
extern const uint8_t CStopBits[3];

enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
extern const uint8_t CDataBits[4];

enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
extern const uint8_t CParityBits[5];

enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
extern const uint32_t CControlDTR[3];

enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
extern const uint32_t CControlRTS[4];

enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };

enum TComEvent {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError,
  evRLSD, evRx80Full
};
// Bit n = the member of ordinal n; all ten is 1023.
using TComEvents = uint16_t;
constexpr TComEvents AllComEvents = 1023;
constexpr TComEvents EventBit(TComEvent e) { return TComEvents(1u << e); }

enum TSyncMethod { smThreadSync, smWindowSync, smNone };

enum TStoredProp { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
using TStoredProps = uint8_t;
constexpr TStoredProps StoredBit(TStoredProp p) { return TStoredProps(1u << p); }

enum TStoreType { stRegistry, stIniFile };

// Wait without a time limit (WaitForEvent).
constexpr int32_t WaitInfinite = -1;

enum TThreadPriority {
  tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};

enum TComSignal { csCTS, csDSR, csRing, csRLSD };
using TComSignals = uint8_t;

enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = uint8_t;

enum TComStateFlag { fCtlHold, fDsrHold, fRlsHold, fXoffHold, fXOffSent, fEof, fTxim };
using TComStateFlags = uint8_t;

enum TOperationKind { okWrite, okRead };

// Component error codes (EComPort::Code) and their TComExceptions members
// (ordinal = code - 1).
constexpr int CError_OpenFailed = 1;
constexpr int CError_WriteFailed = 2;
constexpr int CError_ReadFailed = 3;
constexpr int CError_InvalidAsync = 4;
constexpr int CError_PurgeFailed = 5;
constexpr int CError_AsyncCheck = 6;
constexpr int CError_SetStateFailed = 7;
constexpr int CError_TimeoutsFailed = 8;
constexpr int CError_SetupComFailed = 9;
constexpr int CError_ClearComFailed = 10;
constexpr int CError_ModemStatFailed = 11;
constexpr int CError_EscapeComFailed = 12;
constexpr int CError_TransmitFailed = 13;
constexpr int CError_ConnChangeProp = 14;
constexpr int CError_EnumPortsFailed = 15;
constexpr int CError_StoreFailed = 16;
constexpr int CError_LoadFailed = 17;
constexpr int CError_RegFailed = 18;
constexpr int CError_LedStateFailed = 19;
constexpr int CError_ThreadCreated = 20;
constexpr int CError_WaitFailed = 21;
constexpr int CError_HasLink = 22;
constexpr int CError_RegError = 23;
constexpr int CError_PortNotOpen = 24;

enum TComExceptions {
  CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_InvalidAsync, CE_PurgeFailed,
  CE_AsyncCheck, CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed,
  CE_ClearComFailed, CE_ModemStatFailed, CE_EscapeComFailed, CE_TransmitFailed,
  CE_ConnChangeProp, CE_EnumPortsFailed, CE_StoreFailed, CE_LoadFailed,
  CE_RegFailed, CE_LedStateFailed, CE_ThreadCreated, CE_WaitFailed, CE_HasLink,
  CE_RegError, CEPortNotOpen
};

}  // namespace serial
