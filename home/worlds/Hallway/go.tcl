# Hallway: makes the world object from the layout in this world's meshes folder and names it.
new nworld /usr/share/scene/world
/usr/share/scene/world.load meshes:layout.txt
/usr/share/scene/world.setname "Hallway"
# A self-driving run of that many seconds, for trying worlds out unattended.
if {[info exists ::env(PELORA_AUTODRIVE)]} {
    /observer.setautodrive $::env(PELORA_AUTODRIVE)
}
puts "go.tcl: world Hallway loaded"
