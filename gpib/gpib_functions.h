// The GPIB C API's functions as a program that links a GPIB library calls
// them: the simulated library defines them, benchmarks and tests of it call
// them straight. The driver never does; it resolves them at run time.
#pragma once

#include "gpib/gpib_api.h"

extern "C" {
tessel::gpib::IbfindFn ibfind;
tessel::gpib::IbsicFn ibsic;
tessel::gpib::IbdevFn ibdev;
tessel::gpib::IbonlFn ibonl;
tessel::gpib::IbtmoFn ibtmo;
tessel::gpib::IbeotFn ibeot;
tessel::gpib::IbwrtFn ibwrt;
tessel::gpib::IbrdFn ibrd;
tessel::gpib::IbwaitFn ibwait;
tessel::gpib::FindLstnFn FindLstn;
tessel::gpib::AddressListFn SetRWLS;
tessel::gpib::AddressListFn EnableRemote;
tessel::gpib::AddressListFn EnableLocal;
tessel::gpib::SendFn Send;
tessel::gpib::ReceiveFn Receive;
tessel::gpib::ReadStatusByteFn ReadStatusByte;
tessel::gpib::RegisterGlobalsFn RegisterGpibGlobalsForThread;
tessel::gpib::UnregisterGlobalsFn UnregisterGpibGlobalsForThread;
tessel::gpib::ThreadIntFn ThreadIbsta;
tessel::gpib::ThreadIntFn ThreadIberr;
tessel::gpib::ThreadLongFn ThreadIbcntl;
}
