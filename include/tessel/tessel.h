// Tessel: instrument-port drivers. Everything a host needs.
//
//   <tessel/error.h>         ComError: number, source, description travel together
//   <tessel/variant.h>       Variant and its conversions
//   <tessel/format.h>        FormatValue
//   <tessel/host.h>          HostErrors, HostControl: raising errors, stopping waits
//   <tessel/events.h>        the thread's message loop
//   <tessel/object.h>        Object, QueryInterface, live-object count
//   <tessel/port.h>          IPort, IPortB, IPortDirect, IPortSetup
//   <tessel/parameter.h>     Parameter: a driver's settings
//   <tessel/timeout.h>       clsTimeout: the interval timer
//   <tessel/comm.h>          clsComm: RS-232 serial
//   <tessel/ethernet.h>      clsEthernet: TCP/IP
//   <tessel/gui.h>           clsGUI: a person at the console answers
//   <tessel/th03.h>          clsTH03: TH-03 temperature logger
//   <tessel/serial_ports.h>  listing serial ports, port numbers to devices
//   <tessel/factory.h>       CreateObject by program identifier
//   <tessel/late_bound.h>    CallByName: members by name; classes, enumerations
//   <tessel/identifiers.h>   fixed identifiers of classes and interfaces
//   (<tessel/tessel_c.h>     the same from C; not included here)
#pragma once

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/ethernet.h>
#include <tessel/events.h>
#include <tessel/factory.h>
#include <tessel/format.h>
#include <tessel/gpib.h>
#include <tessel/gui.h>
#include <tessel/host.h>
#include <tessel/identifiers.h>
#include <tessel/late_bound.h>
#include <tessel/object.h>
#include <tessel/parameter.h>
#include <tessel/port.h>
#include <tessel/serial_ports.h>
#include <tessel/th03.h>
#include <tessel/timeout.h>
#include <tessel/trace.h>
#include <tessel/variant.h>
