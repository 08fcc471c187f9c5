# Clears the scene after a drive: the world and its name go, the avatar model stays for the
# next drive with the same vehicle.
foreach path {/usr/share/scene/world /usr/share/scene/currentworld} {
    if {[exists $path]} {
        delete $path
    }
}
sel /
puts "clear.tcl: scene cleared"
