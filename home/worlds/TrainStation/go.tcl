# Train Station: makes the world object from the layout in this world's meshes folder and names it.
new nworld /usr/share/scene/world
/usr/share/scene/world.load meshes:layout.txt
/usr/share/scene/world.setname "Train Station"
# The departure board shown in the hall; this world's clear.tcl removes it.
new nenv /usr/share/scene/departures
/usr/share/scene/departures.sets "Platform 1: 10:15 Riverside - Platform 2: 10:22 Hillcrest"
# A self-driving run of that many seconds, for trying worlds out unattended.
if {[info exists ::env(PELORA_AUTODRIVE)]} {
    /observer.setautodrive $::env(PELORA_AUTODRIVE)
}
puts "go.tcl: world Train Station loaded"
