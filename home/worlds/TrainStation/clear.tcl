# Train Station: removes the departure board that go.tcl set up, after the common clear.
if {[exists /usr/share/scene/departures]} {
    delete /usr/share/scene/departures
}
puts "clear.tcl: departure board removed"
