// SPDX-License-Identifier: MIT
// The ways a faulty driver may carry out a mode set wrongly, shared by the
// device model (which applies them) and the injected faults (which name them).
#pragma once

namespace drmsim {

// Ways a faulty driver carries out a SETCRTC it answers 0 to, each leaving
// a state other than the one asked for (device_faulty.cpp).
enum class DriverFault {
    other_mode,      // runs another of the connector's modes
    clock,           // runs the mode at a pixel clock 0.1 % low
    x_offset,        // scans out from 8 pixels right of the asked x
    y_offset,        // scans out from 8 lines below the asked y
    stale_encoder,   // connector and encoder links left as they were
    old_route,       // the CRTC that drove the connector stays on, feeding its encoder
    no_mode,         // shows the framebuffer but reports no mode
    foreign_encoder, // the connector reports another connector's encoder in use
};

} // namespace drmsim
