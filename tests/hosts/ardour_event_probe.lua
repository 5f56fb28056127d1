-- Plays a known phrase of MIDI events into the event probe in Ardour's
-- engine, headless (ardour7-lua, dummy audio backend):
--
--   ardour7-lua ardour_event_probe.lua DIR NAME RATE SECONDS
--
-- makes a session with one MIDI track "Probe" whose processors are the
-- phrase generator (the Lua DSP script "Tandrel event phrase", which the
-- test writes into Ardour's script folder) followed by the event probe
-- module (found as "Event probe" in Ardour's plug-in cache), runs the
-- engine for SECONDS seconds and closes. Ardour hands the generator's MIDI
-- to the probe through the module interface's event call before each
-- processing call; the probe writes down what it gets.
--
-- Readings are printed as "key=value" lines; failures print "error=..." and
-- leave with status 1.

local dir, name, rate, seconds = arg[1], arg[2], tonumber(arg[3]), tonumber(arg[4])

local function report(key, value)
  print(key .. "=" .. tostring(value))
end

local function fail(message)
  report("error", message)
  os.exit(1)
end

if not AudioEngine:set_backend("None (Dummy)", "", "") then fail("no dummy backend") end
if not create_session(dir, name, rate) then fail("cannot create the session") end
ARDOUR.config():set_output_auto_connect(0)

local MIDI = ARDOUR.DataType("midi")
local AUDIO = ARDOUR.DataType("audio")
local tracks = Session:new_midi_track(ARDOUR.ChanCount(MIDI, 1), ARDOUR.ChanCount(AUDIO, 2), true,
                                      ARDOUR.PluginInfo(), nil, nil, 1, "Probe",
                                      ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal)
if tracks:size() ~= 1 then fail("cannot add the MIDI track") end
local track = tracks:front()
-- Inserting an instrument at once sometimes races the track's own set-up
-- of its output ports ("Port already exists: Probe/audio_out 1", an abort
-- in Ardour); a moment's wait lets that finish first.
ARDOUR.LuaAPI.usleep(500000)

-- The probe first, then the generator before it: the generator starts
-- counting its cycles only once the probe is in place.
local probe = ARDOUR.LuaAPI.new_plugin(Session, "Event probe", ARDOUR.PluginType.LXVST, "")
if probe:isnil() then fail("the event probe is not among the plug-ins Ardour knows") end
if track:add_processor_by_index(probe, 0, nil, true) ~= 0 then fail("cannot insert the event probe") end
local info = probe:to_insert():plugin(0):get_info()
report("probe_midi_inputs", info.n_inputs:n_midi())
report("probe_audio_outputs", info.n_outputs:n_audio())

local phrase = ARDOUR.LuaAPI.new_luaproc(Session, "Tandrel event phrase")
if phrase:isnil() then fail("the phrase generator script is not found") end
if track:add_processor_by_index(phrase, 0, nil, true) ~= 0 then fail("cannot insert the phrase generator") end

report("block_size", Session:get_block_size())
report("step", "running")
ARDOUR.LuaAPI.usleep(math.floor(seconds * 1000000))
report("step", "ran")
close_session()
