# Start-up script of the Pelora launcher, run once when the engine comes up: the observer that
# runs drives, the help window's title label, and the procedures through which the launcher
# adjusts the wheelchair and the driver's skill level.
puts "startup.tcl: making the observer and the skill procedures"

new nobserver /observer
new zuwLabel /usr/share/gui/helpwindow/lbl_main_title/widget

namespace eval skill {
    variable level 1
    variable speed 1.0
}

# The level the observer drives at; with show "true" it is also written to the log.
proc skill::set_level {level show} {
    /observer.setlevel $level
    set ::skill::level $level
    if {$show eq "true"} {
        puts "Skill level $level"
    }
}

# The wheelchair's speed scale (1.0 is full speed).
proc skill::set_speed {scale} {
    /observer.setspeed $scale
    set ::skill::speed $scale
}

# Where the drive axis sits, in feet from the seat's centre; negative is towards the rear.
proc set_avatar_center {offset} {
    /observer.setaxis $offset
}
