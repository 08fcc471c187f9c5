# Sound set-up, run at start when sound is enabled. The engine plays no sound of its own, so
# this only records that sound was asked for.
namespace eval audio {
    variable enabled 1
}
puts "audio.tcl: sound enabled (the engine needs no sound device)"
