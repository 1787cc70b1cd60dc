#pragma once
// The board services the start-up brings up, one function per step, each
// making its calls in the order the services depend on. This is the one
// place that knows which services exist and in which order they start.
namespace IniFile {
class File;
}

namespace Services {

// "--disable-clock": the clock control is switched off for the whole run,
// while the options are read (before the other services exist).
void DisableClockControl();

// The slot factories, in the order that fixes the factory list.
void CreateFactories();

// The board's time-slot switch.
void CreateHardware();

// The monitoring service and its agent links from the configuration
// (called whether or not the file was found).
void CreateMonitoring(IniFile::File& config);

// Binds the control services to the control server, in the order commands
// are offered to them.
void BindControl();

// Starts listening for the controller on the port.
void ActivateControl(int port);

// Closes the controller endpoint after the loop has ended.
void DeactivateControl();

// Reports the board's resources to the controller (SIGHUP).
void UpdateHardwareResources();

}  // namespace Services
