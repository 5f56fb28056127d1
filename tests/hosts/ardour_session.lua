-- Drives Ardour's engine headless (ardour7-lua, dummy audio backend) for the
-- host tests. Two steps, each in its own process:
--
--   ardour7-lua ardour_session.lua create DIR NAME RATE RATIO
--     makes a session with one stereo track, inserts Tandrel on it, prints
--     what Ardour shows about the effect, sets "Ratio x " by name and saves.
--   ardour7-lua ardour_session.lua reload DIR NAME
--     loads the saved session (after the test has added the audio to it),
--     runs the engine for a moment and prints what Ardour shows then.
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

-- The first plug-in insert on the route whose plug-in is called Tandrel.
local function find_insert(route)
  local i = 0
  while true do
    local proc = route:nth_plugin(i)
    if proc:isnil() then return nil end
    if proc:to_insert():plugin(0):name() == "Tandrel" then return proc end
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
  if not load_session(dir, name) then fail("cannot load the session") end
  local track = find_track("Duck")
  if not track then fail("no track Duck") end
  local proc = find_insert(track)
  if not proc then fail("no Tandrel on the track") end

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
else
  fail("unknown mode " .. tostring(mode))
end
