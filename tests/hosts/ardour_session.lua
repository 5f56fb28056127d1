-- Drives Ardour's engine headless (ardour7-lua, dummy audio backend) for the
-- host tests. Each step runs in its own process:
--
--   ardour7-lua ardour_session.lua create DIR NAME RATE RATIO
--     makes a session with one stereo track, inserts Tandrel on it, prints
--     what Ardour shows about the effect, sets "Ratio x " by name and saves.
--   ardour7-lua ardour_session.lua reload DIR NAME
--     loads the saved session (after the test has added the audio to it),
--     runs the engine for a moment and prints what Ardour shows then.
--
-- and for the sidechain test (ardour_sidechain_test.py):
--
--   ardour7-lua ardour_session.lua sidechain DIR NAME RATE CHANNELS SOURCE RATIO [FEEDER]
--     makes a session with a "Music" track of CHANNELS channels (1 or 2)
--     feeding the master bus and a mono "Voice" track that feeds nothing
--     but Tandrel's sidechain: Tandrel inserted on Music (one instance for
--     each music channel), a sidechain input added to it, a send on Voice
--     (before its fader) connected to that input, and each instance's pins
--     connected so the music channel reaches the input that Source reads as
--     the audio and the sidechain the control input. Sets Source and
--     "Ratio x " by name, prints the routing and saves. With FEEDER, the
--     send sits on a third mono track of that name instead, which feeds
--     nothing else either.
--   ardour7-lua ardour_session.lua reload-sidechain DIR NAME
--     loads that session and prints the routing and the values again.
--   ardour7-lua ardour_session.lua voice-to-master DIR NAME
--     connects the Voice track's output to both master inputs and saves.
--
-- and for the LV2 sidechain test (ardour_lv2_sidechain_test.py):
--
--   ardour7-lua ardour_session.lua lv2-sidechain DIR NAME RATE URI DEPTH
--     as "sidechain" with a stereo Music track, but with the LV2 plug-in
--     URI inserted once (Ardour finds it through LV2_PATH), whose third
--     input is its sidechain port: Ardour's own pin map, which the step
--     prints, must connect the two music channels and the sidechain buffer
--     to it. Sets Depth by name, prints what Ardour shows and saves.
--   ardour7-lua ardour_session.lua reload-lv2-sidechain DIR NAME
--     loads that session and prints the same again.
--
-- Every reading is printed as one line "key=value" for the test to check.
-- Failures print "error=..." and leave the process with status 1.

local mode, dir, name = arg[1], arg[2], arg[3]

local function report(key, value)
  print(key .. "=" .. tostring(value))
end

local function fail(message)
  report("error", message)
  os.exit(1)
end

if not AudioEngine:set_backend("None (Dummy)", "", "") then fail("no dummy backend") end

-- The first plug-in insert on the route whose plug-in is Tandrel: the VST 2
-- module "Tandrel" or one of the LV2 plug-ins, whose names begin with it.
local function find_insert(route)
  local i = 0
  while true do
    local proc = route:nth_plugin(i)
    if proc:isnil() then return nil end
    if proc:to_insert():plugin(0):name():find("^Tandrel") then return proc end
    i = i + 1
  end
end

local function find_track(track_name)
  for t in Session:get_tracks():iter() do
    if t:name() == track_name then return t end
  end
  return nil
end

-- What a user sees of the effect: identity, channels, latency and every
-- parameter's name and value.
local function show(proc)
  local insert = proc:to_insert()
  local plugin = insert:plugin(0)
  local info = plugin:get_info()
  report("name", plugin:name())
  report("maker", plugin:maker())
  report("unique_id", plugin:unique_id())
  report("inputs", info.n_inputs:n_audio())
  report("outputs", info.n_outputs:n_audio())
  report("latency", insert:signal_latency())
  report("parameter_count", plugin:parameter_count())
  for j = 0, plugin:parameter_count() - 1 do
    local value = ARDOUR.LuaAPI.get_processor_param(proc, j, true)
    report("parameter_" .. j .. "_name", "[" .. plugin:parameter_label(j) .. "]")
    report("parameter_" .. j .. "_value", string.format("%.9g", value))
  end
end

local function parameter_by_name(proc, wanted)
  local plugin = proc:to_insert():plugin(0)
  for j = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_label(j) == wanted then return j end
  end
  return nil
end

local AUDIO = ARDOUR.DataType("audio")

-- Connects an output port to an input port by name, or fails.
local function connect(port, target, what)
  if port:connect(target:name()) ~= 0 then fail("cannot connect " .. what) end
end

-- The index of a pin map entry, or -1 where the pin is not connected
-- (Ardour reads an unset entry as the largest 32-bit number).
local function mapped(map, pin)
  local to = map:get(AUDIO, pin)
  if to >= 4294967295 then return -1 end
  return to
end

-- The track whose send feeds the insert's sidechain, or nil.
local function find_feeder(insert)
  local port = insert:sidechain_input():audio(0):name()
  for t in Session:get_tracks():iter() do
    local i = 0
    while not t:nth_send(i):isnil() do
      if t:nth_send(i):to_send():output():audio(0):connected_to(port) then return t end
      i = i + 1
    end
  end
  return nil
end

local function count_sends(track)
  local sends = 0
  while not track:nth_send(sends):isnil() do sends = sends + 1 end
  return sends
end

-- How the insert is wired: the instances Ardour runs, the buffers each
-- instance's two inputs and two outputs are connected to (the route's
-- channels first, then the sidechain's), the sidechain input's ports, the
-- track whose sends feed them, and the master inputs each track's outputs
-- reach.
local function show_routing(proc, music, voice)
  local insert = proc:to_insert()
  report("instances", insert:get_count())
  report("has_sidechain", insert:has_sidechain())
  report("music_inputs", music:n_inputs():n_audio())
  report("music_outputs", music:n_outputs():n_audio())
  local info = insert:plugin(0):get_info()
  local function pins(map, count)
    local list = {}
    for pin = 0, count - 1 do list[#list + 1] = mapped(map, pin) end
    return table.concat(list, ",")
  end
  for n = 0, insert:get_count() - 1 do
    report("instance_" .. n .. "_inputs", pins(insert:input_map(n), info.n_inputs:n_audio()))
    report("instance_" .. n .. "_outputs", pins(insert:output_map(n), info.n_outputs:n_audio()))
  end
  report("voice_sends", count_sends(voice))
  local tracks = {music, voice}
  if insert:has_sidechain() then
    local sidechain = insert:sidechain_input()
    report("sidechain_ports", sidechain:n_ports():n_audio())
    local feeder = find_feeder(insert)
    report("sidechain_feeder", feeder and feeder:name() or "")
    if feeder then
      report("feeder_sends", count_sends(feeder))
      local send = feeder:nth_send(0):to_send()
      report("feeder_send_0_feeds_sidechain", send:output():audio(0):connected_to(sidechain:audio(0):name()))
      report("feeder_send_0_gain", string.format("%.9g", send:gain_control():get_value()))
      if feeder:name() ~= voice:name() then tracks[3] = feeder end
    end
  end
  local master_in = Session:master_out():input()
  for _, track in ipairs(tracks) do
    for c = 0, track:n_outputs():n_audio() - 1 do
      local reaches = {}
      for m = 0, master_in:n_ports():n_audio() - 1 do
        if track:output():audio(c):connected_to(master_in:audio(m):name()) then reaches[#reaches + 1] = m end
      end
      report(track:name() .. "_output_" .. c .. "_to_master", table.concat(reaches, ","))
    end
  end
end

-- The regions on a track's playlist: their count and lengths.
local function show_regions(track)
  local regions = track:to_track():playlist():region_list()
  local lengths = {}
  for r in regions:iter() do lengths[#lengths + 1] = r:length():samples() end
  report(track:name() .. "_regions", table.concat(lengths, ","))
end

-- A new audio track of that many inputs and outputs, named track_name.
local function new_track(inputs, outputs, track_name)
  local tracks = Session:new_audio_track(inputs, outputs, nil, 1, track_name, ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, true)
  if tracks:size() ~= 1 then fail("cannot add the track " .. track_name) end
  return tracks:front()
end

-- Loads the saved session and returns its track of that name and the Tandrel
-- insert on it, failing if either is missing.
local function reload_insert(track_name)
  if not load_session(dir, name) then fail("cannot load the session") end
  local track = find_track(track_name)
  if not track then fail("no track " .. track_name) end
  local proc = find_insert(track)
  if not proc then fail("no Tandrel plug-in on the track " .. track_name) end
  return track, proc
end

-- The track of that name in the open session, failing if there is none.
local function existing_track(track_name)
  local track = find_track(track_name)
  if not track then fail("no track " .. track_name) end
  return track
end

if mode == "create" then
  local rate, ratio = tonumber(arg[4]), tonumber(arg[5])
  if not create_session(dir, name, rate) then fail("cannot create the session") end

  local tracks = Session:new_audio_track(2, 2, nil, 1, "Duck", ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, true)
  if tracks:size() ~= 1 then fail("cannot add the track") end
  local track = tracks:front()

  -- Both track outputs straight into the two master inputs; headless, the
  -- session does not connect them by itself.
  local master_in = Session:master_out():input()
  for c = 0, 1 do
    track:output():audio(c):disconnect_all()
    if track:output():audio(c):connect(master_in:audio(c):name()) ~= 0 then fail("cannot connect output " .. c) end
  end

  local proc = ARDOUR.LuaAPI.new_plugin(Session, "Tandrel", ARDOUR.PluginType.LXVST, "")
  if proc:isnil() then fail("Tandrel is not among the plug-ins Ardour knows") end
  if track:add_processor_by_index(proc, 0, nil, true) ~= 0 then fail("cannot insert Tandrel") end

  report("step", "inserted")
  show(proc)

  local j = parameter_by_name(proc, "Ratio x ")
  if not j then fail("no parameter named 'Ratio x '") end
  if not ARDOUR.LuaAPI.set_processor_param(proc, j, ratio) then fail("cannot set 'Ratio x '") end
  report("step", "ratio set")
  report("ratio_index", j)
  report("ratio_value", string.format("%.9g", ARDOUR.LuaAPI.get_processor_param(proc, j, true)))

  Session:save_state("")
  close_session()
elseif mode == "reload" then
  local track, proc = reload_insert("Duck")

  -- Latency is known once the engine has run and the session has
  -- recomputed its latencies; give it a few cycles.
  ARDOUR.LuaAPI.usleep(300000)

  local regions = track:to_track():playlist():region_list()
  report("regions", regions:size())
  for r in regions:iter() do report("region_length", r:length():samples()) end
  report("track_latency", track:signal_latency())
  report("playback_latency", track:playback_latency(false))
  report("step", "loaded")
  show(proc)
  close_session()
elseif mode == "sidechain" then
  local rate, channels = tonumber(arg[4]), tonumber(arg[5])
  local source, ratio = tonumber(arg[6]), tonumber(arg[7])
  local feeder_name = arg[8] or "Voice"
  if not create_session(dir, name, rate) then fail("cannot create the session") end
  -- New tracks' outputs would be connected to the master bus in the
  -- background; the Voice track must stay unconnected, so the test makes
  -- every connection itself.
  ARDOUR.config():set_output_auto_connect(0)

  local music = new_track(channels, 2, "Music")
  local voice = new_track(1, 1, "Voice")
  local feeder = voice
  if feeder_name ~= "Voice" then feeder = new_track(1, 1, feeder_name) end

  -- Music to master; Voice (and a separate feeding track) nowhere yet:
  -- the sidechain is fed through the send alone.
  local master_in = Session:master_out():input()
  for c = 0, 1 do connect(music:output():audio(c), master_in:audio(c), "Music output " .. c) end

  local proc = ARDOUR.LuaAPI.new_plugin(Session, "Tandrel", ARDOUR.PluginType.LXVST, "")
  if proc:isnil() then fail("Tandrel is not among the plug-ins Ardour knows") end
  if music:add_processor_by_index(proc, 0, nil, true) ~= 0 then fail("cannot insert Tandrel") end
  report("step", "inserted")
  show(proc)

  -- A sidechain input of the insert's own, with one port: what adding a
  -- sidechain in the pin connections window makes.
  if not music:add_sidechain(proc) then fail("cannot add a sidechain input") end
  local insert = proc:to_insert()

  -- A send on the feeding track, before its fader, into that port: what
  -- choosing that track as the sidechain's source adds.
  local send = ARDOUR.LuaAPI.new_send(Session, feeder, feeder:amp())
  if send:isnil() then fail("cannot add a send to " .. feeder_name) end
  connect(send:to_send():output():audio(0), insert:sidechain_input():audio(0), "the send to the sidechain")

  -- One instance for each music channel, each with its two outputs' first
  -- one going back to that channel (both outputs carry the same audio).
  if channels > 1 then
    if not music:customize_plugin_insert(proc, channels, ARDOUR.ChanCount(AUDIO, channels), ARDOUR.ChanCount(AUDIO, 0)) then
      fail("Ardour refuses " .. channels .. " instances")
    end
  end
  if insert:get_count() ~= channels then fail("Ardour runs " .. insert:get_count() .. " instances") end

  -- The buffers an insert sees: the route's channels (0 .. channels-1),
  -- then the sidechain's port. With Source at L-R the audio is input 0
  -- and the control input 1; at R-L the other way round.
  local sidechain_buffer = channels
  local audio_pin = source >= 0.5 and 0 or 1
  for n = 0, channels - 1 do
    local inputs = ARDOUR.ChanMapping()
    inputs:set(AUDIO, audio_pin, n)
    inputs:set(AUDIO, 1 - audio_pin, sidechain_buffer)
    insert:set_input_map(n, inputs)
    local outputs = ARDOUR.ChanMapping()
    outputs:set(AUDIO, 0, n)
    if channels == 1 then outputs:set(AUDIO, 1, 1) end
    insert:set_output_map(n, outputs)
  end

  local j = parameter_by_name(proc, "Source")
  if not j or not ARDOUR.LuaAPI.set_processor_param(proc, j, source) then fail("cannot set Source") end
  j = parameter_by_name(proc, "Ratio x ")
  if not j or not ARDOUR.LuaAPI.set_processor_param(proc, j, ratio) then fail("cannot set 'Ratio x '") end
  report("step", "routed")
  show_routing(proc, music, voice)
  show(proc)

  Session:save_state("")
  close_session()
elseif mode == "voice-to-master" then
  local music, proc = reload_insert("Music")
  local voice = existing_track("Voice")
  local master_in = Session:master_out():input()
  for c = 0, 1 do connect(voice:output():audio(0), master_in:audio(c), "Voice to master input " .. c) end
  show_routing(proc, music, voice)
  Session:save_state("")
  close_session()
elseif mode == "lv2-sidechain" then
  local rate, uri, depth = tonumber(arg[4]), arg[5], tonumber(arg[6])
  if not create_session(dir, name, rate) then fail("cannot create the session") end
  ARDOUR.config():set_output_auto_connect(0)
  local music = new_track(2, 2, "Music")
  local voice = new_track(1, 1, "Voice")
  local master_in = Session:master_out():input()
  for c = 0, 1 do connect(music:output():audio(c), master_in:audio(c), "Music output " .. c) end

  local proc = ARDOUR.LuaAPI.new_plugin(Session, uri, ARDOUR.PluginType.LV2, "")
  if proc:isnil() then fail(uri .. " is not among the LV2 plug-ins Ardour knows") end
  if music:add_processor_by_index(proc, 0, nil, true) ~= 0 then fail("cannot insert " .. uri) end
  report("step", "inserted")
  show(proc)

  -- The sidechain input and the send that feeds it, as for the VST 2
  -- module; the pin map is left as Ardour makes it.
  if not music:add_sidechain(proc) then fail("cannot add a sidechain input") end
  local send = ARDOUR.LuaAPI.new_send(Session, voice, voice:amp())
  if send:isnil() then fail("cannot add a send to Voice") end
  connect(send:to_send():output():audio(0), proc:to_insert():sidechain_input():audio(0), "the send to the sidechain")

  local j = parameter_by_name(proc, "Depth")
  if not j then fail("no parameter named Depth") end
  -- LuaAPI numbers the control inputs; Depth is the plug-in's only one.
  if not ARDOUR.LuaAPI.set_processor_param(proc, 0, depth) then fail("cannot set Depth") end
  report("step", "routed")
  show_routing(proc, music, voice)
  show(proc)
  report("depth_value", string.format("%.9g", ARDOUR.LuaAPI.get_processor_param(proc, 0, true)))
  Session:save_state("")
  close_session()
elseif mode == "reload-sidechain" or mode == "reload-lv2-sidechain" then
  local music, proc = reload_insert("Music")
  local voice = existing_track("Voice")
  ARDOUR.LuaAPI.usleep(300000)
  for t in Session:get_tracks():iter() do show_regions(t) end
  report("music_latency", music:signal_latency())
  report("step", "loaded")
  show_routing(proc, music, voice)
  show(proc)
  if mode == "reload-lv2-sidechain" then
    report("depth_value", string.format("%.9g", ARDOUR.LuaAPI.get_processor_param(proc, 0, true)))
  end
  close_session()
else
  fail("unknown mode " .. tostring(mode))
end
