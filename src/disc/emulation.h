// The hook through which the emulated drives (a library of their own) become the transport when
// ARCAVO_EMULATED_DRIVES names a folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "disc/scsi.h"

using TEmulatedTransportFactory =
    std::function<std::unique_ptr<IScsiTransport>(const std::string& folder)>;

// Installs the factory InitTransport uses for ARCAVO_EMULATED_DRIVES.
void RegisterEmulatedTransport(TEmulatedTransportFactory factory);
