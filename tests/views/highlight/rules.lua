local x = nil -- note
--[[ block ]] still

end ]]-- if x then
--[==[ line comment
--[[]]-- print("a--b")
function QFoo.bar() return "x" end
--[[
a ]] b
]]--
