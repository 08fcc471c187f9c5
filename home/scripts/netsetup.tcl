# Network set-up, run once per run by the launcher's first Drive Online: makes the network
# object at /sys/network and the net:: procedures through which the launcher connects to
# pelora-server, logs in, lists the users online, joins and leaves the shared world and sends
# the user's data files.
#
# The object answers through variables of this namespace (see the list below); a procedure
# sends its request and waits for the answer with vwait, always bounded by an "after" timer,
# while the launcher's windows stay live. The launcher cancels a waiting net::connect or
# net::login by setting net::wv_connect or net::ack_login to 9.
#
# Results: a text whose first character is the outcome. net::connect: 0 connected, 1 not,
# 2 not: the server's identity (its certificate or sealing key) changed, 9 cancelled. net::login: 0 logged in, 1 timed out, 2 unknown user, 3 the name is another
# user's, 4 already logged in, 9 cancelled, or else the server's sentence saying why not.
# Every other procedure: 0 done, 1 and a reason otherwise.

new plnetwork /sys/network

namespace eval net {
    # Connection state: "not connected", "connecting", "connected", "online" (logged in)
    # or "lost". The launcher reads it as a whole text.
    variable state "not connected"

    # Where the object puts its answers.
    variable wv_connect ""
    variable ack_login ""
    variable ack_logout ""
    variable ack_users ""
    variable ack_join "1 not in a shared world"
    variable ack_leave ""
    variable ack_file ""
    variable file_progress 0

    # Bounds of the waits, in milliseconds. A login can take the server a moment (it checks
    # a slow password hash); a file gets its whole bound, and is cancelled sooner when the
    # connection takes none of it for stall_timeout.
    variable connect_timeout 10000
    variable login_timeout 20000
    variable reply_timeout 10000
    variable file_timeout 300000
    variable stall_timeout 15000

    # The world the next /sys/network.start joins, as net::setJoinVars gave it.
    variable join_world ""
    variable join_vehicle ""
    variable join_colour ""
    variable join_gender ""
}

# Waits until the variable (the full name) holds an answer, or the bound passes; gives the
# answer, or "1 timed out".
proc net::Wait {name timeout} {
    upvar #0 $name answer
    if {$answer ne ""} {
        return $answer
    }
    set timer [after $timeout [list set $name "1 timed out"]]
    vwait $name
    after cancel $timer
    return $answer
}

# Waits for the answer to a request of `kind`; at the time-out the object is told to drop
# that request, so that a late answer is never taken for the next one's.
proc net::Await {name timeout kind} {
    set answer [Wait $name $timeout]
    if {$answer eq "1 timed out"} {
        /sys/network.abandon $kind
    }
    return $answer
}

# True when the answer is the wait's own ending (the time-out or the launcher's cancel)
# rather than the server's.
proc net::Unanswered {answer} {
    return [expr {$answer eq "1 timed out" || [string index $answer 0] eq "9"}]
}

proc net::setctrladdress {host port} {
    /sys/network.setaddress $host $port
    return "0 $host:$port"
}

# Connects and greets the server. A standing connection is kept (a login on it is ended
# first, so that the launcher's next login starts afresh).
proc net::connect {} {
    variable state
    if {$state eq "online"} {
        logout
    }
    /sys/network.connect
    set answer [Wait ::net::wv_connect $net::connect_timeout]
    if {[string index $answer 0] eq "9"} {
        /sys/network.disconnect "cancelled"
        return "9 cancelled"
    }
    if {$answer eq "1 timed out"} {
        /sys/network.disconnect "timed out after $net::connect_timeout ms"
    }
    return $answer
}

proc net::Account {kind name password} {
    if {$kind eq "login" && $net::state eq "online"} {
        logout
    }
    /sys/network.[expr {$kind eq "login" ? "login" : "createuser"}] $name $password
    set answer [Wait ::net::ack_login $net::login_timeout]
    if {[Unanswered $answer]} {
        /sys/network.abandon $kind
        if {[string index $answer 0] eq "9"} {
            return "9 cancelled"
        }
    }
    return $answer
}

proc net::login {name password} {
    return [Account login $name $password]
}

proc net::createuser {name password} {
    return [Account create $name $password]
}

proc net::logout {} {
    /sys/network.logout
    return [Await ::net::ack_logout $net::reply_timeout logout]
}

# The users online: each line goes to the User Setup window through the object's
# userInfoCallback as it arrives; the result is "0 <count> users online". While the window
# has set the object's usersChangedCallback, asking also asks the server to say when the list
# changes, and the window then asks again by itself.
proc net::infoUsers {} {
    /sys/network.users
    return [Await ::net::ack_users $net::reply_timeout users]
}

proc net::setJoinVars {world vehicle colour gender} {
    variable join_world $world
    variable join_vehicle $vehicle
    variable join_colour $colour
    variable join_gender $gender
    /sys/network.setjoin $world $vehicle $colour $gender
    return 0
}

# Run after /sys/network.start: waits for the join and gives "0" followed by the others in
# the world, one "name x y heading" line each (without numbers for those not yet placed).
proc net::infoPositions {} {
    set answer [Await ::net::ack_join $net::reply_timeout join]
    if {[string index $answer 0] ne "0"} {
        return $answer
    }
    set others [/sys/network.positions]
    if {$others eq ""} {
        return "0"
    }
    return "0\n$others"
}

# Leaves the shared world: "0 ..." once the server confirmed it; anything else means the
# connection is gone.
proc net::leave {} {
    /sys/network.leave
    return [Await ::net::ack_leave $net::reply_timeout leave]
}

# Sends users/USER/FILE. "0 ..." only once the server has confirmed that it holds the file;
# the file is then moved into users/USER/sent/. Otherwise the file stays where it was.
proc net::sendfile {file user} {
    /sys/network.sendfile $user $file $net::stall_timeout
    return [Await ::net::ack_file $net::file_timeout file]
}

puts "netsetup.tcl: network object at /sys/network"
