#pragma once

// The producer kinds of this subsystem ("DEFAULT", "KAFKA", "CARSIM"), registered with the
// client's StreamRegistry under their configuration TYPE. Start-up calls
// RegisterStreamKinds once before it builds the first client; calling it again changes
// nothing.

void RegisterStreamKinds();
