# Head-tracker set-up, run at start when a head tracker is to be used: looks for an InterTrax
# style tracker among the input devices and records what it found in ::headtracker::device.
namespace eval headtracker {
    variable device ""
}
foreach candidate [glob -nocomplain -directory /dev/input/by-id *] {
    if {[regexp -nocase {intertrax|isense|tracker} [file tail $candidate]]} {
        set ::headtracker::device $candidate
        break
    }
}
if {$::headtracker::device eq ""} {
    puts "intertrax.tcl: no head tracker found; steering stays on the keyboard"
} else {
    puts "intertrax.tcl: head tracker found at $::headtracker::device"
}
