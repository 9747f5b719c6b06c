[playlist]
File1=http://summit.example:8010/rock.mp3
Title1=Summit Rock
Length1=-1
File2=http://summit.example:8010/metal.mp3
Title2=Summit Metal
Length2=-1
File3=http://alpine-beats.example/live
Title3=Alpine Beats
Length3=-1
NumberOfEntries=3
Version=2
