// Fixed identifiers of Tessel's classes and interfaces.
//
// Every creatable class has a class identifier and a program identifier
// ("Tessel." and the class name); its default interface, the one that
// late-bound calls reach (<tessel/late_bound.h>), has an identifier of its
// own, named after the class with a leading underscore ("_clsComm"). The
// port interfaces and the settings object have identifiers too, so that a
// host can ask an object for one of them by identifier as well as by name.
//
// These values never change: hosts store them. A new class gets new ones.
// They are written in the registry form, upper case, without braces; lookups
// accept any case and braces.
//
// Threads: constants only.
#pragma once

namespace tessel {

// Classes.
inline constexpr const char* kClsidComm = "E90DAA7F-8CA0-4190-A495-361EFBFEF956";
inline constexpr const char* kClsidEthernet = "B7F57356-07B6-42E4-9F56-23A4AAFEC5ED";
inline constexpr const char* kClsidGPIB = "337893BC-6F09-4458-8D80-EA72557EEF5F";
inline constexpr const char* kClsidGUI = "559A97C9-D755-4460-8CC6-846099B03AC7";
inline constexpr const char* kClsidTH03 = "C3863C53-60D4-4160-AACB-7FE7A36FC501";
inline constexpr const char* kClsidTimeout = "40AB3FA7-634E-4E68-BE59-C45ED2FC541B";
// The settings object; hosts get it from a driver and cannot create it.
inline constexpr const char* kClsidParameter = "AD7A7E63-7EE7-462C-A95D-C6CAED0FB9AD";

// Default interfaces of the classes.
inline constexpr const char* kIidClsComm = "FCA6F739-5CBC-48B7-9F69-1ECB38DDF624";
inline constexpr const char* kIidClsEthernet = "7A02EE22-B67D-4879-9BE8-3E87F15C2537";
inline constexpr const char* kIidClsGPIB = "9D8ECEDD-872B-47A0-BE0E-BDD2A98229CC";
inline constexpr const char* kIidClsGUI = "2E8210F3-96AA-4371-B351-278D4A5EC310";
inline constexpr const char* kIidClsTH03 = "C6F948C5-5446-4A91-B4B5-6AAA41FDAC0F";
inline constexpr const char* kIidClsTimeout = "D35B97BE-78CE-48F2-9AC2-D5758537A93D";
inline constexpr const char* kIidParameter = "E3E12736-D893-4DAC-AEE5-94E0CE397D0A";

// The port interfaces (<tessel/port.h>).
inline constexpr const char* kIidIPort = "05927C67-B802-4898-B827-9FBE293D1A2F";
inline constexpr const char* kIidIPortB = "6B08BEFF-FD76-4A4E-AE75-82634A379325";
inline constexpr const char* kIidIPortDirect = "F6F060FC-6C09-4619-BD2E-92AC6F87E6B3";
inline constexpr const char* kIidIPortSetup = "1DCA0061-7AE5-46A1-87E8-709E0C4AE692";

}  // namespace tessel
