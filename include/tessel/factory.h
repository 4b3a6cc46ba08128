// Creating objects by program identifier (examples/settings.cpp):
//
//   std::shared_ptr<tessel::Object> obj = tessel::CreateObject("Tessel.clsComm");
//   auto port = tessel::QueryInterface<tessel::IPort>(obj);
//
// Every call creates a fresh object in its initial state (settings at their
// defaults, nothing open); it lives until its last reference goes.
// Identifiers are compared without regard to case. An unknown identifier
// raises 429 with source "Tessel" and a description that names it.
//
// Threads: the new object belongs to the calling thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/export.h>
#include <tessel/object.h>

namespace tessel {

TESSEL_API std::shared_ptr<Object> CreateObject(std::string_view progId);

// The program identifiers CreateObject knows, e.g. "Tessel.clsComm".
TESSEL_API std::vector<std::string> RegisteredClasses();

}  // namespace tessel
